"""An independent reference for the exactness tests: the pricing formulas
written again in plain Python, operation for operation. Python floats are
IEEE doubles with correctly rounded arithmetic, and math.exp, math.log and
math.pow call the same C runtime functions as the module, so for ordinary
inputs the results must agree with the module to the last bit."""
import math

SQRT2 = 1.4142135623730951
SQRT_TWO_PI = 2.5066282746310007

SMALL_P = [0.0033791670955125737, -0.0007369565304816795, -0.3747323373929196, 0.08174424487335873,
           -0.04210893199365486, 0.007016570951209575, -0.004950912559824351, 0.0008716465990379225]
SMALL_Q = [1.0, -0.21808821808792464, 0.4125429727254421, -0.08418911478731067, 0.06553388564002416,
           -0.012001960445494177, 0.00408165558926174, -0.0006159007215577697]

# (L, Y, numerator from the constant term up, denominator from the constant term up)
INTERVALS = [
    (0.5, 0.3440242112,
     [-0.03617903907182625, 0.2922518834448827, 0.2814470417976045, 0.12561020886276694, 0.027413502826893053,
      0.0025083967216806575],
     [1, 1.8545005897903486, 1.4357580303783142, 0.5828276587530365, 0.12481047693294975, 0.011372417654635328]),
    (0.75, 0.419990927,
     [-0.03978768926111369, 0.1531652124678783, 0.19126029560093624, 0.10276327061989304, 0.029637090615738836,
      0.004609348678027549, 0.0003076078203486802],
     [1, 1.955200729876277, 1.6476231719938486, 0.7682386070221262, 0.20979318593650978, 0.031956931689991336,
      0.0021336316089578537]),
    (1.25, 0.4898625016,
     [-0.030083856055794972, 0.05385788298444545, 0.07262115416519142, 0.036762846988804936, 0.009646290155725275,
      0.0013345348007529107, 7.780875997825043e-05],
     [1, 1.7596709814716753, 1.3288357143796112, 0.5525285965087576, 0.13379305694133287, 0.017950964517628076,
      0.0010471244001993736, -1.0664038182035734e-08]),
    (2.25, 0.5317370892,
     [-0.011790757013722784, 0.01426213209053881, 0.020223443590296084, 0.009306682999904321, 0.00213357802422066,
      0.00025022987386460105, 1.2053491221958819e-05],
     [1, 1.5037622520362048, 0.9653977862044629, 0.3392652304767967, 0.06897406495415698, 0.007710602624917683,
      0.0003714211015310693]),
    (3.5, 0.5489973426,
     [-0.005469547955387293, 0.004041902787317071, 0.005496336955316117, 0.002126164726039454,
      0.0003949840144950839, 3.655654770644424e-05, 1.3548589710993232e-06],
     [1, 1.2101969777363077, 0.6209146682211439, 0.17303843066114277, 0.027655081377343203, 0.0024062597442430973,
      8.918118172513365e-05, -4.655288362833827e-12]),
    (5.25, 0.5571740866,
     [-0.0027072253590577837, 0.00131875634250294, 0.0011992593326100233, 0.00027849619811344664,
      2.6782298821833186e-05, 9.230436723150282e-07],
     [1, 0.8146328085431416, 0.26890166585629954, 0.044987721610304114, 0.0038175966332024847,
      0.00013157189788859692, 4.048153596757641e-12]),
    (8.0, 0.5609807968,
     [-0.001099467206917422, 0.00040642544275042267, 0.0002744994894169007, 4.652937706466594e-05,
      3.2095542539576746e-06, 7.782860181450209e-08],
     [1, 0.5881737106118461, 0.13936333128940975, 0.016632934041708368, 0.0010002392131023491,
      2.4254837521587224e-05]),
    (11.5, 0.5626493692,
     [-0.0005690799360109496, 0.00016949854037376225, 5.184723545811009e-05, 3.8281931223192885e-06,
      8.249899312818944e-08],
     [1, 0.33963725005113937, 0.04347264787031066, 0.002485493352246371, 5.356333053371529e-05,
      -1.1749094440545958e-13]),
    (17.0, 0.5634598136,
     [-0.00024131359948399134, 5.742249752025015e-05, 1.1599896292738377e-05, 5.817621344025938e-07,
      8.539715550856736e-09],
     [1, 0.23304413829968784, 0.02041869405464403, 0.0007971856475643983, 1.1701928167017232e-05]),
    (24.0, 0.5638477802,
     [-0.00014667469927776036, 1.6266655211228053e-05, 2.6911624850916523e-06, 9.79584479468092e-08,
      1.0199464762572346e-09],
     [1, 0.16590781294484722, 0.010336171619150588, 0.0002865930263738684, 2.9840157084090034e-06]),
    (38.0, 0.5640528202,
     [-5.839057976297718e-05, 4.125103251054962e-06, 4.3179092242025094e-07, 9.933651555900132e-09,
      6.534805100201047e-11],
     [1, 0.10507708607203992, 0.004142784286754756, 7.263387546445238e-05, 4.778184710473988e-07]),
    (60.0, 0.5641309023,
     [-1.9645779760922958e-05, 1.572438876668007e-06, 5.439025111927009e-08, 3.174724923691177e-10],
     [1, 0.05280398924095763, 0.0009268760691517533, 5.410117232266303e-06, 5.350938458036424e-16]),
    (85.0, 0.5641584396,
     [-7.892247039787227e-06, 6.22088451660987e-07, 1.457284456768824e-08, 6.037155055427153e-11],
     [1, 0.03753288463562937, 0.0004679195359746253, 1.9384703927584565e-06]),
]


def horner(coefficients, x):
    total = coefficients[-1]
    for c in reversed(coefficients[:-1]):
        total = total * x + c
    return total


def erf_rational(z, complement):
    if 0.0 > z:
        if not complement:
            return -erf_rational(-z, False)
        if z < -0.5:
            return 2.0 - erf_rational(-z, True)
        return erf_rational(-z, False) + 1.0
    if z < 0.5:
        if z < 1e-10:
            v = z * 1.125 + z * 0.0033791670955125737
        else:
            v = z * 1.125 + (z * horner(SMALL_P, z)) / horner(SMALL_Q, z)
        return 1.0 - v if complement else v
    if z < 110.0:
        lower, offset, numerator, denominator = [iv for iv in INTERVALS if iv[0] <= z][-1]
        x = z + (-lower)
        r = horner(numerator, x) / horner(denominator, x)
        g = math.exp((-z) * z) / z
        v = r * g + offset * g
    else:
        v = 0.0
    return v if complement else 1.0 - v


def N(x):
    z = (0.0 - x) / (1.0 * SQRT2)
    if math.isinf(z):
        return 0.0 if z > 0 else 1.0
    return erf_rational(z, True) * 0.5


def pdf(x):
    return math.exp((-0.5 * x) * x) / SQRT_TWO_PI


def bs_greeks(s, k, t, r, sigma, q, call):
    L = math.log(s / k)
    sqrt_t = math.sqrt(t)
    sst = sqrt_t * sigma
    d1 = (((sigma * sigma) * 0.5 + (r - q)) * t + L) / sst
    d2 = d1 - sst
    eq = math.exp((-q) * t)
    er = math.exp((-r) * t)
    eqp = math.pow(2.718281828459045, (-q) * t)
    delta = N(d1) * eq if call else N(-d1) * (-eq)
    gamma = (pdf(d1) * eqp) / ((s * sigma) * sqrt_t)
    vega = (pdf(d1) * (s * eq)) * sqrt_t
    rho = (N(d2) * ((k * t) * er)) / 100 if call else (N(-d2) * (((-k) * t) * er)) / 100
    a = (((sigma * s) * eq) * (math.exp((-0.5 * d1) * d1) / (-SQRT_TWO_PI))) / (sqrt_t + sqrt_t)
    b = (k * r) * er
    c = (s * q) * eq
    if call:
        theta = ((a - b * N(d2)) + N(d1) * c) / 365
    else:
        theta = ((b * N(-d2) + a) - N(-d1) * c) / 365
    return delta, gamma, theta, vega, rho


def _european_call(S, K, T, r, b, sigma):
    sst = sigma * math.sqrt(T)
    d1 = (math.log(S / K) + (b + 0.5 * (sigma * sigma)) * T) / sst
    d2 = d1 - sst
    return (S * math.exp((b - r) * T)) * N(d1) - (K * math.exp((-r) * T)) * N(d2)


def _phi(S, tau, gamma_kind, beta, H, I, r, b, sigma):
    s2 = sigma * sigma
    if gamma_kind == "beta":
        g = beta
        lam = ((-r + g * b) + ((0.5 * g) * (g - 1.0)) * s2) * tau
        kappa = (2.0 * b) / s2 + (2.0 * g - 1.0)
    elif gamma_kind == "one":
        g = 1.0
        lam = (b - r) * tau
        kappa = 1.0 + (2.0 * b) / s2
    else:
        g = 0.0
        lam = (-r) * tau
        kappa = (2.0 * b) / s2 - 1.0
    sst = sigma * math.sqrt(tau)
    d = (-(math.log(S / H) + (b + (g - 0.5) * s2) * tau)) / sst
    ratio = I / S
    bracket = N(d) - math.pow(ratio, kappa) * N(d - (2.0 * math.log(ratio)) / sst)
    if gamma_kind == "beta":
        return (math.exp(lam) * math.pow(S, g)) * bracket
    if gamma_kind == "one":
        return (math.exp(lam) * S) * bracket
    return math.exp(lam) * bracket


def _boundary(K, T, r, b, sigma):
    """beta and the trigger price as a function of the horizon."""
    s2 = sigma * sigma
    cr = b / s2
    beta = (0.5 - cr) + math.sqrt((cr - 0.5) * (cr - 0.5) + (2.0 * r) / s2)
    b_inf = (beta / (beta - 1.0)) * K
    b0 = (r / (r - b)) * K
    b0 = b0 if b0 > K else K

    def trigger(tau):
        h = ((-(b * tau + (2.0 * sigma) * math.sqrt(tau))) * b0) / (b_inf - b0)
        return b0 + (b_inf - b0) * (1.0 - math.exp(h))

    return beta, b_inf, trigger


def call_trigger(K, T, r, b, sigma):
    """The trigger price I2 of a call on the early-exercise path, from which on it is exercised at once."""
    return _boundary(K, T, r, b, sigma)[2](T)


def bjerksund_stensland_call(S, K, T, r, b, sigma):
    if T <= 0.0:
        return max(S - K, 0.0)
    if b >= r:
        return _european_call(S, K, T, r, b, sigma)
    beta, b_inf, trigger = _boundary(K, T, r, b, sigma)
    i2 = trigger(T)
    if S >= i2:
        return S - K
    t1 = 0.6180339887498949 * T
    i1 = trigger(t1)
    a1 = (i1 - K) * math.pow(i1, -beta)
    a2 = (i2 - K) * math.pow(i2, -beta)
    rows = [(+1, a1, t1, "beta", i1), (-1, a1, t1, "beta", i2), (+1, 1.0, t1, "one", i2), (-1, 1.0, t1, "one", K),
            (-1, K, t1, "zero", i2), (+1, K, t1, "zero", K), (+1, a2, T, "beta", i2), (-1, a2, T, "beta", i1),
            (+1, 1.0, T, "one", i1), (-1, 1.0, T, "one", i2), (-1, K, T, "zero", i1), (+1, K, T, "zero", i2)]
    v = None
    for sign, factor, tau, kind, level in rows:
        term = factor * _phi(S, tau, kind, beta, level, i1, r, b, sigma)
        v = term if v is None else (v + term if sign > 0 else v - term)
    e = _european_call(S, K, T, r, b, sigma)
    if math.isnan(v):
        return e
    if math.isnan(e):
        return v
    # A sum above the perpetual call's value is no price: as for a NaN one.
    if v > e and v > (b_inf - K) * math.pow(S / b_inf, beta):
        return e
    return e if e > v else v


def am_price(s, k, t, r, sigma, q, call):
    b = r - q
    if call:
        c = bjerksund_stensland_call(s, k, t, r, b, sigma)
        u = s - k if s - k > 0 else 0.0
    else:
        c = bjerksund_stensland_call(k, s, t, r - b, -b, sigma)
        u = k - s if k - s > 0 else 0.0
    return c if c > u else u


def am_greeks(s, k, t, r, sigma, q, call):
    h = 0.0001 * s
    up, centre, down = (am_price(x, k, t, r, sigma, q, call) for x in (s + h, s, s - h))
    later_t = t + (-0.0027397260273972603)
    later_t = later_t if later_t > 0.0001 else 0.0001
    later = am_price(s, k, later_t, r, sigma, q, call)
    vol_up = am_price(s, k, t, r, sigma + 0.0001, q, call)
    vol_down = am_price(s, k, t, r, sigma - 0.0001, q, call)
    rate_up = am_price(s, k, t, r + 0.0001, sigma, q, call)
    rate_down = am_price(s, k, t, r - 0.0001, sigma, q, call)
    return ((up - down) / (h + h), ((up - (centre + centre)) + down) / (h * h), later - centre,
            (vol_up - vol_down) / 0.0002, ((rate_up - rate_down) / 0.0002) / 100)
