// Docstrings and method definitions of both modules from the table of
// pricing functions. The scalar module's docstrings are compatibility texts:
// tests and users read them, so velarix's wording stays exactly as it is.
#include "method_definitions.h"

namespace velarix {
namespace {

constexpr const char* kBatchArguments =
    "    out: Keyword only: arrays to write the results into, as numpy's out=\n"
    "        (default: new arrays): a C-contiguous, writeable float64 array of\n"
    "        the broadcast shape, for the Greeks a tuple of five; the call\n"
    "        returns them. A refused call writes nothing into them.\n"
    "    threads: Keyword only: the threads to compute on (default: the CPUs\n"
    "        this process may use; 1 computes on the calling thread only)\n"
    "\n"
    "Every argument but out and threads is a number (a str for option_type) or\n"
    "an array-like of them; they broadcast against each other as numpy arrays\n"
    "do. Each result is bit for bit the velarix function's on the same inputs.\n"
    "Theta is per calendar day (a 365-day year), vega per 1.00 of volatility,\n"
    "rho per percentage point of the rate.\n";

std::string batch_returns(const FunctionDefinition& function) {
    if (function.returns_greeks()) {
        return "A Greeks named tuple (delta, gamma, theta, vega, rho) of float64 arrays\n"
               "    of the broadcast shape (numpy.float64 values when every input is a scalar)";
    }
    return std::string(function.returns) +
           ", per option: a float64 array of the broadcast\n"
           "    shape (a numpy.float64 when every input is a scalar)";
}

}  // namespace

std::string docstring(const FunctionDefinition& function, ModuleKind kind) {
    const bool examples = function.documents_examples;
    const bool batch = kind == ModuleKind::Batch;
    std::string doc = std::string(function.name) + "(s, k, t, r, sigma, q=0.0" +
                      (function.takes_option_type ? ", option_type=\"call\"" : "") +
                      (batch ? ", *, out=None, threads=None)" : ")") + "\n--\n\n" + function.summary +
                      "\n\nArgs:\n"
                      "    s: Current price of the underlying asset\n"
                      "    k: Strike price of the option\n"
                      "    t: Time to expiration in years\n";
    doc += examples ? "    r: Risk-free interest rate (e.g., 0.05 for 5%)\n" : "    r: Risk-free interest rate\n";
    doc += examples ? "    sigma: Volatility of the underlying asset (e.g., 0.2 for 20%)\n"
                    : "    sigma: Volatility of the underlying asset\n";
    doc += examples ? "    q: Dividend yield (e.g., 0.01 for 1%)\n" : "    q: Dividend yield\n";
    if (function.takes_option_type) {
        doc += "    option_type: 'call' or 'put'\n";
    }
    if (batch) {
        doc += kBatchArguments;
    }
    return doc + "\nReturns:\n    " + (batch ? batch_returns(function) : std::string(function.returns));
}

MethodDefinitions::MethodDefinitions(std::span<const ModuleFunction, kFunctions.size()> functions, ModuleKind kind) {
    for (std::size_t i = 0; i < functions.size(); ++i) {
        docs_[i] = docstring(*functions[i].definition, kind);
        // METH_KEYWORDS tells the interpreter the entry's real type; the
        // cast goes through void (*)() as the compilers' warning asks.
        methods_[i] = {functions[i].definition->name,
                       reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(functions[i].entry)),
                       METH_VARARGS | METH_KEYWORDS, docs_[i].c_str()};
    }
}

}  // namespace velarix
