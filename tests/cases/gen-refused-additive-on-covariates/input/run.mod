mean 1 1 0 0 intercept
add.cov 5 3 1 0 a$cov
var.e 2 1 0 0 residual
