namespace tavosum {}
