"""Registered script functions seen from Python: their forms, keyword binding, signatures and docstrings.

The plug-in registers each function with a C prototype whose parameters are
named ("ComplexImagePtr ZEPPureFFT(ComplexImagePtr cimSrc, double fScale,
ComplexImagePtr cimDst)"). Those names are the keywords a call may use; a
function registered in several forms (overloads) is bound to the forms
whose parameters the names given fit, and the host then chooses among them
by the kinds of the arguments, as for a positional call.
"""

import inspect
import re
from dataclasses import dataclass
from typing import Optional

from . import _script_docs
from ._image import Image


class Ref:
    """An out-argument of a script call (`long *`, `double *`, `ImageRef *`).

    Ref(initial) passes `initial` in; after the call `.value` holds what the
    function wrote, or still `initial` where it wrote nothing.
    """

    __slots__ = ("value",)

    def __init__(self, value=None):
        self.value = value

    def __repr__(self):
        return f"Ref({self.value!r})"


Ref.__module__ = "lumadex"

# A script type -> (its name in Python terms, the annotation), for parameters and results.
_PYTHON_TYPES = {
    "ImageRef": ("Image", Image),
    "ComplexImagePtr": ("Image", Image),
    "dm_string": ("str", str),
    "TagGroup": ("dict", dict),
    "long": ("int", int),
    "float": ("float", float),
    "double": ("float", float),
    "bool": ("bool", bool),
    "char": ("str", str),  # one character, or its code
    "long *": ("Ref", Ref),
    "double *": ("Ref", Ref),
    "ImageRef *": ("Ref", Ref),
    "void": ("None", None),
}

_PROTOTYPE = re.compile(r"\s*(?P<result>\w+)\s+(?P<name>\w+)\s*\((?P<parameters>.*)\)\s*")
_PARAMETER = re.compile(r"\s*(?P<type>\w+)\s*(?P<pointer>\*)?\s*(?P<name>\w*)\s*")


@dataclass(frozen=True)
class Parameter:
    name: str
    script_type: str  # "double", "ImageRef *"...

    @property
    def is_destination(self):
        """An image the call writes, which None asks the function to make."""
        return self.script_type in ("ImageRef", "ComplexImagePtr") and self.name.endswith("Dst")


@dataclass(frozen=True)
class Form:
    """One registered form of a script function."""

    text: str  # the prototype exactly as registered
    result: str
    name: str
    parameters: tuple

    @property
    def names(self):
        return tuple(p.name for p in self.parameters)

    def python_text(self):
        """The form in Python terms: "ZEPPureFFT(cimSrc: Image, fScale: float, cimDst: Image | None) -> Image"."""
        def shown(p):
            kind = _PYTHON_TYPES[p.script_type][0]
            return f"{p.name}: {kind} | None" if p.is_destination else f"{p.name}: {kind}"
        return f"{self.name}({', '.join(map(shown, self.parameters))}) -> {_PYTHON_TYPES[self.result][0]}"

    def signature(self):
        """The form as an inspect.Signature."""
        def annotation(p):
            kind = _PYTHON_TYPES[p.script_type][1]
            return Optional[kind] if p.is_destination else kind
        return inspect.Signature(
            [inspect.Parameter(p.name, inspect.Parameter.POSITIONAL_OR_KEYWORD, annotation=annotation(p))
             for p in self.parameters],
            return_annotation=_PYTHON_TYPES[self.result][1])


def parse_form(text):
    """The Form of a registered prototype; None for one this face cannot read (it stays callable positionally)."""
    match = _PROTOTYPE.fullmatch(text)
    if not match or match["result"] not in _PYTHON_TYPES:
        return None
    parameters = []
    listed = match["parameters"].strip()
    for number, piece in enumerate(listed.split(",") if listed else []):
        part = _PARAMETER.fullmatch(piece)
        if not part:
            return None
        script_type = part["type"] + (" *" if part["pointer"] else "")
        if script_type not in _PYTHON_TYPES:
            return None
        parameters.append(Parameter(part["name"] or f"arg{number + 1}", script_type))
    return Form(text, match["result"], match["name"], tuple(parameters))


def _listed(names):
    return "(" + ", ".join(names) + ")"


def _binding(form, args, kwargs):
    """The arguments in the form's order, or the reason they do not fit it (a str)."""
    names = form.names
    if len(args) > len(names):
        return f"takes {len(names)} arguments {_listed(names)} but {len(args)} were given"
    bound = dict(zip(names, args))
    for key in kwargs:
        if key not in names:
            return f"got an unexpected keyword argument {key!r}; its parameters are {_listed(names)}"
        if key in bound:
            return f"got multiple values for argument {key!r}"
    bound.update(kwargs)
    missing = [n for n in names if n not in bound]
    if missing:
        return f"missing {len(missing)} argument{'s' if len(missing) > 1 else ''}: {', '.join(map(repr, missing))}"
    return [bound[n] for n in names]


def script_function(name, forms, call):
    """A Python function for the script function `name` registered in `forms`.

    It binds keywords to the registered parameter names and hands the
    arguments, in order, to call(name, args, parameter_names). Its docstring
    and signature describe the forms (the signature the first one's).
    """
    doc, signature = _described(name, tuple(forms))
    readable = [f for f in forms if isinstance(f, Form)]

    def function(*args, **kwargs):
        if kwargs:
            args = _bound(name, readable, args, kwargs)
        fitting = [f for f in readable if len(f.parameters) == len(args)]
        if len(fitting) == 1:
            args = _with_char_codes(fitting[0], args)
        return call(name, args, _parameter_names(fitting, len(args)))

    function.__name__ = function.__qualname__ = name
    function.__module__ = "lumadex"
    function.__doc__ = doc
    if signature is not None:
        function.__signature__ = signature
    return function


_DESCRIBED = {}


def _described(name, forms):
    """(docstring, signature) of a function's forms, made once per set of forms."""
    key = (name, forms)
    if key not in _DESCRIBED:
        readable = [f for f in forms if isinstance(f, Form)]
        _DESCRIBED[key] = docstring(name, forms), readable[0].signature() if readable else None
    return _DESCRIBED[key]


def _bound(name, forms, args, kwargs):
    """The arguments in the order of the one form their keywords fit; TypeError when none or several fit."""
    orders, reasons = [], []
    for form in forms:
        bound = _binding(form, args, kwargs)
        if isinstance(bound, str):
            reasons.append(f"{_listed(form.names)} {bound}" if len(forms) > 1 else bound)
        elif not any(len(o) == len(bound) and all(a is b for a, b in zip(o, bound)) for o in orders):
            orders.append(bound)
    if len(orders) == 1:
        # Forms of one arity share their parameter names here; among them
        # the host chooses by the arguments' kinds.
        return orders[0]
    if not forms:
        raise TypeError(f"{name}() takes no keyword arguments: its prototype could not be read")
    if not orders:
        raise TypeError(f"{name}() " + ("; ".join(reasons) if len(forms) == 1 else
                                        "fits none of its forms: " + "; ".join(reasons)))
    raise TypeError(f"{name}() arguments fit several of its forms differently; pass them by position")


def _parameter_names(forms, count):
    """The name of each argument position that every form of that arity agrees on (else None)."""
    names = []
    for i in range(count):
        seen = {f.parameters[i].name for f in forms}
        names.append(seen.pop() if len(seen) == 1 else None)
    return names


def _with_char_codes(form, args):
    """A one-character str passed for a `char` parameter becomes its code, as the script passes a character."""
    args = list(args)
    for i, p in enumerate(form.parameters):
        if p.script_type == "char" and isinstance(args[i], str):
            if len(args[i]) != 1:
                raise ValueError(f"{form.name}(): {p.name} is one character (or its code), not {args[i]!r}")
            args[i] = ord(args[i])
    return args


def docstring(name, forms):
    """The docstring of a script function: its forms in Python terms, what it does, its parameters, its prototypes."""
    readable = [f for f in forms if isinstance(f, Form)]
    lines = list(dict.fromkeys(f.python_text() for f in readable)) or [name + "(...)"]
    described = _script_docs.describe(name)
    meanings = {}
    if described:
        family, what, meanings = described
        lines += ["", what, "", f"Family: {family}."]
    names = list(dict.fromkeys(p.name for f in readable for p in f.parameters))
    if names:
        lines += ["", "Parameters", "----------"]
        for parameter_name in names:
            kinds = {_PYTHON_TYPES[p.script_type][0] + (" or None" if p.is_destination else "")
                     for f in readable for p in f.parameters if p.name == parameter_name}
            lines.append(f"{parameter_name} : {' or '.join(sorted(kinds))}")
            lines.append("    " + meanings.get(parameter_name, "(not described)"))
    results = list(dict.fromkeys(_PYTHON_TYPES[f.result][0] for f in readable))
    if results:
        lines += ["", "Returns", "-------", " or ".join(results)]
    lines += ["", "Registered as:"] + ["    " + (f.text if isinstance(f, Form) else f) for f in forms]
    lines += ["", "Arguments pass by position or by these names; a failed call raises lumadex.ScriptError."]
    return "\n".join(lines)
