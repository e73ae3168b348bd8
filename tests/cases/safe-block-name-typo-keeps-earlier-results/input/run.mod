mean 1 1 0 0 intercept
add.geno.a 5 4 1 0 a$geno
var.e 2 1 0 0 residual
