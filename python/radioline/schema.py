# SPDX-License-Identifier: MIT
"""The profile schema and the check of a profile against it. The schema is
the JSON Schema file radioctl and the panel read too, profile.schema.json:
installed beside this package, or, in a source checkout, in its schema/
folder. The check knows the part of JSON Schema that file uses (type,
minimum, maximum, enum, required, properties and additionalProperties
false, items, minItems, maxItems, uniqueItems and $ref into $defs, and the
file's own x-decimals, a number's most decimal places) and refuses a schema
that uses more, so that a rule it does not know is never passed over in
silence. A problem is told as the panel tells it: the value's place
(offset, split.rx, channels[2].frequency) and what is wrong with it;
decimal places are counted on the number's shortest decimal form, so 0.3
has one and 88.55 two."""
from __future__ import annotations

import functools
import json
import math
import os
from decimal import Decimal
from typing import Any, Iterator, Optional

SCHEMA_FILE = "profile.schema.json"
_HERE = os.path.dirname(os.path.abspath(__file__))
_PLACES = (os.path.join(_HERE, SCHEMA_FILE),  # installed
           os.path.join(_HERE, os.pardir, os.pardir, "schema", SCHEMA_FILE))  # source checkout
_ANNOTATIONS = {"$schema", "$id", "$defs", "title", "description"}
_KNOWN = _ANNOTATIONS | {"type", "minimum", "maximum", "x-decimals", "enum", "required",
                         "properties", "additionalProperties", "items", "minItems", "maxItems",
                         "uniqueItems", "$ref"}
_ARTICLES = {"integer": "an integer", "number": "a number", "string": "a string",
             "object": "an object", "array": "an array"}


@functools.lru_cache(maxsize=None)
def schema() -> dict:
    """The profile schema, read once; RuntimeError when it is not where it belongs."""
    for path in _PLACES:
        if os.path.exists(path):
            with open(path, encoding="utf-8") as file:
                return json.load(file)
    raise RuntimeError(f"{SCHEMA_FILE} not found beside the radioline package")


def problem(value: Any, rules: Optional[dict] = None) -> Optional[str]:
    """The first problem of `value` against the profile schema (or `rules`), None when none."""
    root = schema() if rules is None else rules
    return next(_problems(root, root, value, ""), None)


def _is_type(value: Any, kind: str) -> bool:
    if isinstance(value, bool):
        return False
    if kind == "number":
        return isinstance(value, int) or isinstance(value, float) and math.isfinite(value)
    if kind == "integer":
        return isinstance(value, int) or isinstance(value, float) and value.is_integer()
    return isinstance(value, {"string": str, "object": dict, "array": (list, tuple)}[kind])


def _resolve(root: dict, rules: dict) -> dict:
    """`rules`, or what its $ref points to (a pointer into this document)."""
    while "$ref" in rules:
        rules = functools.reduce(lambda node, name: node[name], rules["$ref"][2:].split("/"), root)
    return rules


def _range(rules: dict, value: Any) -> Optional[str]:
    low, high = rules.get("minimum"), rules.get("maximum")
    if (low is None or value >= low) and (high is None or value <= high):
        return None
    if low is not None and high is not None:
        return f"must be from {low} to {high}"
    return f"must be at least {low}" if high is None else f"must be at most {high}"


def _count(rules: dict, value: Any) -> Optional[str]:
    low, high = rules.get("minItems", 0), rules.get("maxItems")
    if low == high and len(value) != low:
        return f"must hold {low} items"
    if len(value) < low:
        return f"must hold at least {low} items"
    if high is not None and len(value) > high:
        return f"must hold at most {high} items"
    return None


def _problems(root: dict, rules: dict, value: Any, place: str) -> Iterator[str]:
    """Every problem of `value` at `place` against `rules`, the first ones first."""
    rules = _resolve(root, rules)
    unknown = set(rules) - _KNOWN
    if unknown:
        raise RuntimeError(f"the profile schema uses {sorted(unknown)}, which this check does not know")
    name = place or "profile"
    kind = rules.get("type")
    if kind and not _is_type(value, kind):
        yield f"{name}: must be {_ARTICLES[kind]}"
        return
    if "enum" in rules and value not in rules["enum"]:
        yield f"{name}: must be one of {', '.join(json.dumps(item) for item in rules['enum'])}"
    if kind in ("integer", "number"):
        wrong = _range(rules, value)
        places = rules.get("x-decimals")
        if not wrong and places is not None and -Decimal(repr(value)).as_tuple().exponent > places:
            wrong = f"must be a multiple of {10 ** -places:.{places}f}"
        if wrong:
            yield f"{name}: {wrong}"
    if kind == "object":
        yield from _object_problems(root, rules, value, place)
    if kind == "array":
        wrong = _count(rules, value)
        if wrong:
            yield f"{name}: {wrong}"
        for index, item in enumerate(value):
            yield from _problems(root, rules.get("items", {}), item, f"{place}[{index}]")
            if rules.get("uniqueItems") and item in value[:index]:
                yield f"{place}[{index}]: repeats an earlier item"


def _object_problems(root: dict, rules: dict, value: dict, place: str) -> Iterator[str]:
    known = rules.get("properties", {})
    prefix = f"{place}." if place else ""
    for key, item in value.items():
        if key in known:
            yield from _problems(root, known[key], item, prefix + str(key))
        elif rules.get("additionalProperties", True) is False:
            yield f"{prefix}{key}: unknown key"
    for key in rules.get("required", ()):
        if key not in value:
            yield f"{prefix}{key}: is required"
