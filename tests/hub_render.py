# SPDX-License-Identifier: MIT
# Renders MQTT discovery templates as the hub does, with plain sandboxed Jinja2 (undefined values are errors).
# Reads a JSON array of [template, variables]; writes the JSON array of what each renders to, or of the error.
import json
import sys

import jinja2.sandbox

environment = jinja2.sandbox.ImmutableSandboxedEnvironment(undefined=jinja2.StrictUndefined)


def render(template, variables):
    try:
        return environment.from_string(template).render(**variables)
    except jinja2.TemplateError as error:
        return f"error: {error}"


print(json.dumps([render(template, variables) for template, variables in json.load(sys.stdin)]))
