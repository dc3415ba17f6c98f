# SPDX-License-Identifier: MIT
# Renders MQTT discovery templates as the hub does, with plain sandboxed Jinja2 (undefined values are errors).
# Reads one JSON array [template, variables] per line; writes one rendered line each, or "error: ...".
import json
import sys

import jinja2.sandbox

environment = jinja2.sandbox.ImmutableSandboxedEnvironment(undefined=jinja2.StrictUndefined)
for line in sys.stdin:
    template, variables = json.loads(line)
    try:
        print(environment.from_string(template).render(**variables))
    except jinja2.TemplateError as error:
        print(f"error: {error}")
