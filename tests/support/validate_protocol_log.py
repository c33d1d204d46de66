#!/usr/bin/python3
"""Checks every engine line the end-to-end tests read against schema/.

usage: validate_protocol_log.py SCHEMA_DIR LOG_DIR

LOG_DIR holds the conversations that tests/support/protocol_log.cpp recorded:
NAME.in (the bytes sent to one engine) and NAME.out (the lines read back).
The engine answers every input line once, in order, and writes progress
events of a request before its reply, so the lines read pair up with the
input lines in order. Each reply is checked against the schema of its
request's command (reply.schema.json#/$defs/<command>), each event against
event.schema.json and against the request it belongs to.

Needs Debian's python3-jsonschema (so run it with /usr/bin/python3).
"""
import json
import sys
from pathlib import Path

try:
    from jsonschema import Draft202012Validator, RefResolver
except ImportError:
    sys.exit("validate_protocol_log.py: python3-jsonschema is missing (scripts/install-deps.sh installs it)")

COMMANDS = {"scan", "summary", "forget", "measure", "entry", "children", "large",
            "hash", "duplicates", "system", "terminate"}
EVENT_PHASES = {"scan": {"indexing"}, "duplicates": {"sampling", "hashing"}}


class Schemas:
    def __init__(self, schema_dir):
        documents = [json.loads(p.read_text()) for p in sorted(Path(schema_dir).glob("*.schema.json"))]
        store = {d["$id"]: d for d in documents}
        by_name = {d["$id"].rsplit("/", 1)[1]: d for d in documents}
        self.reply_doc = by_name["reply.schema.json"]
        resolver = RefResolver.from_schema(self.reply_doc, store=store)
        for doc in documents:
            Draft202012Validator.check_schema(doc)
        self.any_reply = Draft202012Validator(self.reply_doc, resolver=resolver)
        self.event = Draft202012Validator(by_name["event.schema.json"],
                                          resolver=RefResolver.from_schema(by_name["event.schema.json"], store=store))
        self.resolver = resolver
        self.cache = {}

    def reply_for(self, definition):
        if definition not in self.cache:
            self.cache[definition] = Draft202012Validator(
                {"$ref": f"{self.reply_doc['$id']}#/$defs/{definition}"}, resolver=self.resolver)
        return self.cache[definition]


def input_lines(data):
    """The request lines the engine serves from these bytes: split at line feeds,
    one carriage return dropped, ending at the first line that is not UTF-8."""
    parts = data.split(b"\n")
    if parts and parts[-1] == b"":
        parts.pop()
    for raw in parts:
        if raw.endswith(b"\r"):
            raw = raw[:-1]
        try:
            yield raw.decode("utf-8")
        except UnicodeDecodeError:
            return


def request_of(line):
    """(request id, command) of a request line as far as it can be read here,
    else (None, None); the engine's own decoder has the last word."""
    try:
        value = json.loads(line)
    except (ValueError, RecursionError):
        return None, None
    if isinstance(value, dict):
        request, command = value.get("request"), value.get("command")
    elif isinstance(value, list) and len(value) >= 2:
        request, command = value[0], value[1]
    else:
        return None, None
    if not isinstance(command, str) or not isinstance(request, int) or isinstance(request, bool):
        return None, None
    return request, command


def first_error(validator, value):
    errors = sorted(validator.iter_errors(value), key=lambda e: len(list(e.absolute_path)), reverse=True)
    if not errors:
        return None
    error = errors[0]
    where = "/".join(str(p) for p in error.absolute_path)
    return f"{error.message} (at /{where})"


def check_conversation(schemas, sent, received):
    """Yields (line number in .out, problem) for every line that breaks the protocol."""
    requests = list(input_lines(sent))
    served = 0  # input lines answered so far; requests[served] is being served
    for number, text in enumerate(received.decode("utf-8", "replace").splitlines(), 1):
        try:
            line = json.loads(text)
        except ValueError as error:
            yield number, f"not JSON: {error}"
            continue
        request_line = requests[served] if served < len(requests) else None
        request, command = request_of(request_line) if request_line is not None else (None, None)
        if isinstance(line, dict) and "event" in line:
            problem = first_error(schemas.event, line)
            if problem is None and line.get("phase") not in EVENT_PHASES.get(command, ()):
                problem = f"event of phase {line.get('phase')!r} while serving {command!r}"
            elif problem is None and line.get("request") != request:
                problem = f"event for request {line.get('request')} while serving request {request}"
            if problem:
                yield number, problem
            continue
        served += 1
        if request_line is None:
            yield number, "reply without a request line"
            continue
        if isinstance(line, dict) and "request" not in line:
            definition = "decodeError"
        elif command in COMMANDS:
            definition = command
        elif command is not None:
            definition = "unknownCommand"
        else:
            definition = None
        problem = first_error(schemas.reply_for(definition) if definition else schemas.any_reply, line)
        if problem is None and definition not in (None, "decodeError") and line.get("request") != request:
            problem = f"reply for request {line.get('request')} to request {request}"
        if problem:
            yield number, f"{problem}; request line: {request_line[:200]}"


def main(argv):
    if len(argv) != 3:
        sys.exit(__doc__)
    schemas = Schemas(argv[1])
    log_dir = Path(argv[2])
    conversations = sorted(log_dir.glob("*.out")) if log_dir.is_dir() else []
    lines = failures = 0
    for out in conversations:
        received = out.read_bytes()
        sent_path = out.with_suffix(".in")
        sent = sent_path.read_bytes() if sent_path.exists() else b""
        lines += received.count(b"\n")
        for number, problem in check_conversation(schemas, sent, received):
            failures += 1
            print(f"{out.name}:{number}: {problem}")
    print(f"{lines} engine lines in {len(conversations)} conversations checked against the schema; "
          f"{failures} broke it")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
