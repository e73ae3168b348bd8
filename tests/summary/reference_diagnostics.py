# Independent reference values for tavosum's interval and convergence columns,
# written from the definitions alone (standard library only; direct sums, no
# FFT, ranks by counting). Run: python3 tests/summary/reference_diagnostics.py
# Prints per test chain: median ci.lo ci.hi hpd.lo hpd.hi ess.bulk ess.tail mcse.mean rhat.
import math, statistics

NAN = float('nan')

def q7(s, p):
    n = len(s); h = (n - 1) * p; lo = math.floor(h)
    if lo + 1 >= n: return s[n - 1]
    return s[lo] + (h - lo) * (s[lo + 1] - s[lo])

def hpd(s, P):
    n = len(s); k = min(max(math.ceil(P * n - 1e-9), 1), n)
    best = min(range(n - k + 1), key=lambda i: (s[i + k - 1] - s[i], i))
    return s[best], s[best + k - 1]

def mean_exact(h):
    return h[0] if all(v == h[0] for v in h) else sum(h) / len(h)

def moments(h1, h2):
    N = len(h1)
    m1, m2 = mean_exact(h1), mean_exact(h2)
    c1 = [v - m1 for v in h1]; c2 = [v - m2 for v in h2]
    acov = lambda c, t: sum(c[i] * c[i + t] for i in range(N - t)) / N
    mean_var = (acov(c1, 0) + acov(c2, 0)) / 2 * N / (N - 1)
    var_plus = mean_var * (N - 1) / N + (m1 - m2) ** 2 / 2
    return c1, c2, acov, mean_var, var_plus

def usable(y):
    return all(math.isfinite(v) for v in y) and any(v != y[0] for v in y)

def ess(h1, h2):
    if not usable(h1 + h2): return NAN
    N = len(h1); S = 2 * N
    c1, c2, acov, mean_var, var_plus = moments(h1, h2)
    rho_t = lambda t: 1 - (mean_var - (acov(c1, t) + acov(c2, t)) / 2) / var_plus
    rho = [0.0] * N
    rho_even = 1.0; rho_odd = rho_t(1); rho[0] = rho_even; rho[1] = rho_odd
    t = 0
    while t < N - 5 and rho_even + rho_odd > 0:
        t += 2
        rho_even = rho_t(t); rho_odd = rho_t(t + 1)
        if rho_even + rho_odd >= 0:
            rho[t] = rho_even; rho[t + 1] = rho_odd
    max_t = t
    if rho_even > 0: rho[max_t] = rho_even
    t = 0
    while t <= max_t - 4:
        t += 2
        if rho[t] + rho[t + 1] > rho[t - 2] + rho[t - 1]:
            rho[t] = rho[t + 1] = (rho[t - 2] + rho[t - 1]) / 2
    tau = -1 + 2 * sum(rho[:max_t]) + rho[max_t]
    tau = max(tau, 1 / math.log10(S))
    return S / tau

def rhat(h1, h2):
    if not usable(h1 + h2): return NAN
    _, _, _, W, var_plus = moments(h1, h2)
    return math.sqrt(var_plus / W) if W > 0 else math.inf

def ranknorm(y):
    S = len(y); nd = statistics.NormalDist()
    out = []
    for v in y:
        below = sum(1 for w in y if w < v); equal = sum(1 for w in y if w == v)
        r = below + (equal + 1) / 2
        out.append(nd.inv_cdf((r - 3 / 8) / (S + 1 / 4)))
    return out

def columns(x, ci=0.95, hpdP=0.95):
    n = len(x)
    if n == 0 or not all(math.isfinite(v) for v in x): return [NAN] * 9
    s = sorted(x)
    med = q7(s, 0.5)
    lo, hi = (q7(s, (1 - ci) / 2), q7(s, (1 + ci) / 2)) if n > 1 else (NAN, NAN)
    hl, hh = hpd(s, hpdP) if n > 1 else (NAN, NAN)
    if n < 4: return [med, lo, hi, hl, hh, NAN, NAN, NAN, NAN]
    N = n // 2; S = 2 * N
    split = x[:N] + x[n - N:]
    z = ranknorm(split)
    bulk = ess(z[:N], z[N:])
    m = s[n // 2] if n % 2 else (s[n // 2 - 1] + s[n // 2]) / 2
    zf = ranknorm([abs(v - m) for v in split])
    r1, r2 = rhat(z[:N], z[N:]), rhat(zf[:N], zf[N:])
    rh = NAN if math.isnan(r1) or math.isnan(r2) else max(r1, r2)
    tails = []
    for q in (q7(s, 0.05), q7(s, 0.95)):
        ind = [1.0 if v <= q else 0.0 for v in split]
        tails.append(ess(ind[:N], ind[N:]))
    tail = NAN if any(math.isnan(t) for t in tails) else min(tails)
    mean = sum(x) / n
    sd = math.sqrt(sum((v - mean) ** 2 for v in x) / (n - 1))
    mcse = sd / math.sqrt(ess(split[:N], split[N:]))
    return [med, lo, hi, hl, hh, bulk, tail, mcse, rh]

# The fixed chains of the tests (the C++ test builds the same ones).
def lcg_uniforms(count, state=12345):
    out = []
    for _ in range(count):
        state = (1103515245 * state + 12345) % 2147483648
        out.append(state / 2147483648)
    return out

def ar1(count, phi):
    x = []; prev = 0.0
    for u in lcg_uniforms(count):
        prev = phi * prev + (u - 0.5)
        x.append(prev)
    return x

def jump(count):
    return [u + (3.0 if i >= count // 2 else 0.0) for i, u in enumerate(lcg_uniforms(count))]

if __name__ == '__main__':
    chains = {
        'ar1_301': ar1(301, 0.9),
        'jump_40': jump(40),
        'ties_12': [1.0, 2.0, 2.0, 3.0, 1.0, 2.0, 5.0, 2.0, 3.0, 3.0, 1.0, 2.0],
        'short_5': [3.0, 1.0, 4.0, 1.0, 5.0],
        'constant_9': [2.5] * 9,
        'two_levels_9': [1.0] * 5 + [2.0] * 4,
        'pi_10': [3.0, 1.0, 4.0, 1.0, 5.0, 9.0, 2.0, 6.0, 5.0, 3.0],
    }
    for name, x in chains.items():
        print(name, ' '.join('%.17g' % v for v in columns(x)))
    x = chains['ar1_301']
    print('ar1_301 split pair: ess %.17g rhat %.17g' % (ess(x[:150], x[151:]), rhat(x[:150], x[151:])))
