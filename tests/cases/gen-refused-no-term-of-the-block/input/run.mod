mean 1 1 0 0 intercept
add.other 5 4 1 0 a$other
var.e 2 1 0 0 residual
