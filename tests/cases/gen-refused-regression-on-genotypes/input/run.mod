mean 1 1 0 0 intercept
reg.geno 3 4 1 0 r$geno
var.e 2 1 0 0 residual
