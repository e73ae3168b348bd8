mean 1 1 0 0 intercept
reg.cov.r 3 3 1 0 r$cov
var.e 2 1 0 0 residual
