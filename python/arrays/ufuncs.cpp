#define LUMADEX_NUMPY_API_OWNER
#include "ufuncs.h"

#include <algorithm>
#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

#include "ufunc_loops.h"
#include "ufunc_numpy_api.h"

namespace py = pybind11;

namespace lumadex::arrays {
namespace {

// --- the table ---------------------------------------------------------------

enum class Face { Math, Special };  // numpy's names, scipy.special's names

// One loop of the layer: numpy's type numbers of its operands (inputs, then
// the output), the inner loop and the routine it runs.
struct LayerLoop {
    std::vector<char> types;
    PyUFuncGenericFunction loop;
    void* routine;
};

template <class T>
constexpr char kTypeNumber = 0;
template <>
constexpr char kTypeNumber<float> = NPY_FLOAT;
template <>
constexpr char kTypeNumber<double> = NPY_DOUBLE;
template <>
constexpr char kTypeNumber<MKL_Complex8> = NPY_CFLOAT;
template <>
constexpr char kTypeNumber<MKL_Complex16> = NPY_CDOUBLE;

template <class In, class Out>
LayerLoop Loop(UnaryRoutine<In, Out> f)
{
    return {{kTypeNumber<In>, kTypeNumber<Out>}, &UnaryLoop<In, Out>, reinterpret_cast<void*>(f)};
}
template <class T>
LayerLoop Loop(BinaryRoutine<T> f)
{
    return {{kTypeNumber<T>, kTypeNumber<T>, kTypeNumber<T>}, &BinaryLoop<T>, reinterpret_cast<void*>(f)};
}

struct Function {
    const char* name;
    Face face;
    const char* what;      // what it computes, one sentence
    const char* accuracy;  // of the layer's loops
    std::vector<LayerLoop> loops;
};

// Accuracy, as the layer states it (mkl_vml.h) and the tests check it.
const char* const kExact = "exact";
const char* const kRounded = "correctly rounded";
const char* const kReal = "within 1 ulp of the correctly rounded result";
const char* const kRealAndComplex =
    "within 1 ulp of the correctly rounded result for real arguments, within a few ulps per component "
    "(relative to the larger one) for complex ones";

// Which routine serves which name and type. A routine is bound to a name
// only where its results are numpy's (or scipy's) for every argument,
// special values included; elsewhere numpy's own loop stays:
//   - complex power: numpy gives x**0 = 1 for every x and forms small
//     integral powers by multiplication, the layer's cpow gives nan for
//     0**0 and inf**0;
//   - VML's Round rounds halves away from zero, numpy's rint to even: rint
//     is the layer's Rint (the caller's rounding mode, round-to-nearest-even
//     by default, as numpy's);
//   - numpy's names without a routine of the layer (exp2, log2, the complex
//     expm1 and log1p...) are not offered; neither is erfcinv (erfinv(1 - y)
//     loses the digits of small y);
//   - add, subtract, multiply and divide are not offered: numpy's loops are
//     as fast or faster (on arrays in the caches, with a scalar operand, in
//     place), and the results are the same.
std::vector<Function> Functions()
{
    using F = Face;
    return {
        {"exp", F::Math, "The exponential e**x, element-wise.", kRealAndComplex,
         {Loop(vsExp), Loop(vdExp), Loop(vcExp), Loop(vzExp)}},
        {"expm1", F::Math, "e**x - 1, element-wise, accurate for small x.", kReal, {Loop(vsExpm1), Loop(vdExpm1)}},
        {"log", F::Math, "The natural logarithm, element-wise.", kRealAndComplex,
         {Loop(vsLn), Loop(vdLn), Loop(vcLn), Loop(vzLn)}},
        {"log10", F::Math, "The base-10 logarithm, element-wise.", kRealAndComplex,
         {Loop(vsLog10), Loop(vdLog10), Loop(vcLog10), Loop(vzLog10)}},
        {"log1p", F::Math, "log(1 + x), element-wise, accurate for small x.", kReal, {Loop(vsLog1p), Loop(vdLog1p)}},
        {"sqrt", F::Math, "The non-negative square root (the principal one for complex x), element-wise.",
         "correctly rounded for real arguments, within a few ulps per component (relative to the larger one) "
         "for complex ones",
         {Loop(vsSqrt), Loop(vdSqrt), Loop(vcSqrt), Loop(vzSqrt)}},
        {"cbrt", F::Math, "The real cube root, element-wise.", kReal, {Loop(vsCbrt), Loop(vdCbrt)}},
        {"square", F::Math, "x*x, element-wise.", kRounded, {Loop(vsSqr), Loop(vdSqr)}},
        {"reciprocal", F::Math, "1/x, element-wise.", kRounded, {Loop(vsInv), Loop(vdInv)}},
        {"absolute", F::Math, "The absolute value (the modulus for complex x), element-wise.",
         "exact for real arguments; the modulus of a complex one within 1.2 ulps",
         {Loop(vsAbs), Loop(vdAbs), Loop(vcAbs), Loop(vzAbs)}},
        {"fabs", F::Math, "The absolute value of real x, element-wise.", kExact, {Loop(vsAbs), Loop(vdAbs)}},
        {"conjugate", F::Math, "The complex conjugate, element-wise.", kExact, {Loop(vcConj), Loop(vzConj)}},
        {"sin", F::Math, "The sine, element-wise (x in radians).", kRealAndComplex,
         {Loop(vsSin), Loop(vdSin), Loop(vcSin), Loop(vzSin)}},
        {"cos", F::Math, "The cosine, element-wise (x in radians).", kRealAndComplex,
         {Loop(vsCos), Loop(vdCos), Loop(vcCos), Loop(vzCos)}},
        {"tan", F::Math, "The tangent, element-wise (x in radians).", kRealAndComplex,
         {Loop(vsTan), Loop(vdTan), Loop(vcTan), Loop(vzTan)}},
        {"arcsin", F::Math, "The inverse sine, element-wise.", kRealAndComplex,
         {Loop(vsAsin), Loop(vdAsin), Loop(vcAsin), Loop(vzAsin)}},
        {"arccos", F::Math, "The inverse cosine, element-wise.", kRealAndComplex,
         {Loop(vsAcos), Loop(vdAcos), Loop(vcAcos), Loop(vzAcos)}},
        {"arctan", F::Math, "The inverse tangent, element-wise.", kRealAndComplex,
         {Loop(vsAtan), Loop(vdAtan), Loop(vcAtan), Loop(vzAtan)}},
        {"sinh", F::Math, "The hyperbolic sine, element-wise.", kRealAndComplex,
         {Loop(vsSinh), Loop(vdSinh), Loop(vcSinh), Loop(vzSinh)}},
        {"cosh", F::Math, "The hyperbolic cosine, element-wise.", kRealAndComplex,
         {Loop(vsCosh), Loop(vdCosh), Loop(vcCosh), Loop(vzCosh)}},
        {"tanh", F::Math, "The hyperbolic tangent, element-wise.", kRealAndComplex,
         {Loop(vsTanh), Loop(vdTanh), Loop(vcTanh), Loop(vzTanh)}},
        {"arcsinh", F::Math, "The inverse hyperbolic sine, element-wise.", kRealAndComplex,
         {Loop(vsAsinh), Loop(vdAsinh), Loop(vcAsinh), Loop(vzAsinh)}},
        {"arccosh", F::Math, "The inverse hyperbolic cosine, element-wise.", kRealAndComplex,
         {Loop(vsAcosh), Loop(vdAcosh), Loop(vcAcosh), Loop(vzAcosh)}},
        {"arctanh", F::Math, "The inverse hyperbolic tangent, element-wise.", kRealAndComplex,
         {Loop(vsAtanh), Loop(vdAtanh), Loop(vcAtanh), Loop(vzAtanh)}},
        {"floor", F::Math, "The largest integer not above x, element-wise.", kExact, {Loop(vsFloor), Loop(vdFloor)}},
        {"ceil", F::Math, "The smallest integer not below x, element-wise.", kExact, {Loop(vsCeil), Loop(vdCeil)}},
        {"trunc", F::Math, "x rounded toward zero to an integer, element-wise.", kExact,
         {Loop(vsTrunc), Loop(vdTrunc)}},
        {"rint", F::Math, "x rounded to the nearest integer, halves to even, element-wise.", kExact,
         {Loop(vsRint), Loop(vdRint)}},
        {"power", F::Math, "x1 raised to the power x2, element-wise.", kReal, {Loop(vsPow), Loop(vdPow)}},
        {"hypot", F::Math, "sqrt(x1**2 + x2**2) without overflow or underflow on the way, element-wise.", kReal,
         {Loop(vsHypot), Loop(vdHypot)}},
        {"arctan2", F::Math, "The angle of the point (x2, x1) from the positive x axis, in (-pi, pi], element-wise.",
         kReal, {Loop(vsAtan2), Loop(vdAtan2)}},
        {"erf", F::Special, "The error function, 2/sqrt(pi) times the integral of exp(-t**2) from 0 to x.", kReal,
         {Loop(vsErf), Loop(vdErf)}},
        {"erfc", F::Special, "The complementary error function, 1 - erf(x), accurate where erf(x) nears 1.", kReal,
         {Loop(vsErfc), Loop(vdErfc)}},
        {"erfinv", F::Special, "The inverse of the error function: y with erf(y) = x, for x in [-1, 1].", kReal,
         {Loop(vsErfInv), Loop(vdErfInv)}},
    };
}

// --- making the ufuncs -------------------------------------------------------

// numpy keeps pointers to a ufunc's loop arrays and texts without copying
// them: each ufunc made here gets one of these, kept for the whole process.
struct UfuncTables {
    std::vector<PyUFuncGenericFunction> functions;
    std::vector<void*> data;       // numpy's loops' own data, or one of `layer`
    std::deque<LoopData> layer;    // the layer's loops' data (a deque: the pointers in `data` stay valid)
    std::vector<char> types;
    std::string doc;
};

UfuncTables& NewTables()
{
    static auto* const kept = new std::deque<UfuncTables>;  // never freed: ufuncs live until the process ends
    return kept->emplace_back();
}

// "float32, float64 and complex64": the argument types the layer's loops take.
std::string TypeNames(const Function& f)
{
    std::vector<std::string> names;
    for (const LayerLoop& loop : f.loops) {
        const char* name = loop.types[0] == NPY_FLOAT ? "float32" : loop.types[0] == NPY_DOUBLE ? "float64"
                         : loop.types[0] == NPY_CFLOAT ? "complex64" : "complex128";
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    return text;
}

// `text` with its spaces turned into line breaks where a line would pass `width` characters.
std::string Wrapped(std::string text, std::size_t width = 76)
{
    std::size_t lineStart = 0, lastSpace = std::string::npos;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ' ') lastSpace = i;
        if (i - lineStart >= width && lastSpace != std::string::npos && lastSpace > lineStart) {
            text[lastSpace] = '\n';
            lineStart = lastSpace + 1;
            lastSpace = std::string::npos;
        }
    }
    return text;
}

std::string Doc(const Function& f, const std::string& reference)
{
    std::string notes = "The " + TypeNames(f) + " loops run lumadex's vector-math layer: " + f.accuracy +
                        ". Long runs are split over lumadex.get_num_threads() threads. ";
    if (f.face == Face::Math)
        notes += "Other argument types run numpy's own loops; types, casting and keywords are " + reference + "'s.";
    else
        notes += "Other real arguments are cast to these by numpy's rules (integers to float64), as " + reference +
                 "'s are; complex ones are not accepted.";
    return std::string(f.what) + "\n\n" + Wrapped(notes);
}

const LayerLoop* LoopFor(const Function& f, const char* signature, int nargs)
{
    for (const LayerLoop& loop : f.loops)
        if (static_cast<int>(loop.types.size()) == nargs && std::equal(loop.types.begin(), loop.types.end(), signature))
            return &loop;
    return nullptr;
}

py::object MakeUfunc(const Function& f, UfuncTables& t, int nin, int identity, PyObject* identityValue)
{
    PyObject* made = PyUFunc_FromFuncAndDataAndSignatureAndIdentity(
        t.functions.data(), t.data.data(), t.types.data(), static_cast<int>(t.functions.size()), nin, 1, identity,
        f.name, t.doc.c_str(), 0, nullptr, identityValue);
    if (!made) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(made);
}

// numpy's ufunc of the same name, with the layer's loops in place of
// numpy's where the types agree (numpy lists some signatures twice: every
// one of them gets the layer's loop, which keeps numpy's for reduce and
// accumulate), numpy's type resolution (datetime rules and all) and identity.
py::object MathUfunc(const Function& f, const py::module_& numpy)
{
    const py::object theirsObject = numpy.attr(f.name);
    if (!PyObject_TypeCheck(theirsObject.ptr(), &PyUFunc_Type))
        throw std::logic_error(std::string("numpy.") + f.name + " is not a ufunc");
    const auto* theirs = reinterpret_cast<const PyUFuncObject*>(theirsObject.ptr());
    UfuncTables& t = NewTables();
    std::vector<const LayerLoop*> unused;
    for (const LayerLoop& loop : f.loops) unused.push_back(&loop);
    for (int i = 0; i < theirs->ntypes; ++i) {
        const char* signature = theirs->types + i * theirs->nargs;
        const LayerLoop* ours = LoopFor(f, signature, theirs->nargs);
        if (ours) {
            t.functions.push_back(ours->loop);
            t.data.push_back(&t.layer.emplace_back(LoopData{ours->routine, theirs->functions[i], theirs->data[i]}));
        } else {
            t.functions.push_back(theirs->functions[i]);
            t.data.push_back(theirs->data[i]);
        }
        t.types.insert(t.types.end(), signature, signature + theirs->nargs);
        unused.erase(std::remove(unused.begin(), unused.end(), ours), unused.end());
    }
    if (!unused.empty() || theirs->nout != 1)
        throw std::logic_error(std::string("numpy.") + f.name + " has no loop for one of the layer's routines");
    t.doc = Doc(f, std::string("numpy.") + f.name);
    py::object ufunc = MakeUfunc(f, t, theirs->nin, theirs->identity, theirs->identity_value);
    reinterpret_cast<PyUFuncObject*>(ufunc.ptr())->type_resolver = theirs->type_resolver;
    return ufunc;
}

// The layer's loops alone, resolved by numpy's default rules.
py::object SpecialUfunc(const Function& f)
{
    UfuncTables& t = NewTables();
    for (const LayerLoop& loop : f.loops) {
        t.functions.push_back(loop.loop);
        t.data.push_back(&t.layer.emplace_back(LoopData{loop.routine, nullptr, nullptr}));
        t.types.insert(t.types.end(), loop.types.begin(), loop.types.end());
    }
    t.doc = Doc(f, std::string("scipy.special.") + f.name);
    const int nin = static_cast<int>(f.loops.front().types.size()) - 1;
    return MakeUfunc(f, t, nin, PyUFunc_None, nullptr);
}

// Fills the module's table of numpy's C API (ufunc_numpy_api.h); once, when
// the module is imported.
void ImportNumpyApi()
{
    if (_import_array() < 0 || _import_umath() < 0) throw py::error_already_set();
}

}  // namespace

void RegisterUfuncs(py::module_& m)
{
    ImportNumpyApi();
    const py::module_ numpy = py::module_::import("numpy");
    py::module_ math = m.def_submodule("math_ufuncs", "The vector-math layer's routines under numpy's names.");
    py::module_ special =
        m.def_submodule("special_ufuncs", "The vector-math layer's routines under scipy.special's names.");
    for (const Function& f : Functions()) {
        if (f.face == Face::Math)
            math.add_object(f.name, MathUfunc(f, numpy));
        else
            special.add_object(f.name, SpecialUfunc(f));
    }
}

}  // namespace lumadex::arrays
