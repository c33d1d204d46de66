// Checks the lines a page exchanged with the engine against schema/ with ajv:
// requests against request.schema.json, events against event.schema.json, and
// each reply against the reply definition of its request's command.
import Ajv2020 from 'ajv/dist/2020.js';
import { readFileSync, readdirSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const schemaDir = join(dirname(fileURLToPath(import.meta.url)), '..', '..', '..', 'schema');
const BASE = 'https://quillmarsh.example/schema/';

export function protocolValidator() {
  const ajv = new Ajv2020({ strict: true, allowUnionTypes: true, allErrors: false });
  for (const file of readdirSync(schemaDir).filter((f) => f.endsWith('.schema.json'))) {
    ajv.addSchema(JSON.parse(readFileSync(join(schemaDir, file), 'utf8')));
  }
  const get = (ref) => {
    const validate = ajv.getSchema(BASE + ref);
    if (!validate) throw new Error(`no schema ${ref}`);
    return validate;
  };
  const problem = (validate, value, text) => (validate(value) ? null : `${ajv.errorsText(validate.errors)}: ${text.slice(0, 300)}`);

  // sent, received: the text frames in order. Returns a list of problems and counts.
  return function check(sent, received) {
    const problems = [];
    const commands = new Map();
    for (const text of sent) {
      const request = JSON.parse(text);
      commands.set(request.request, request.command);
      const why = problem(get('request.schema.json'), request, text);
      if (why) problems.push(`request: ${why}`);
    }
    const counts = { requests: sent.length, replies: 0, events: 0 };
    for (const text of received) {
      const line = JSON.parse(text);
      const command = commands.get(line.request);
      let why;
      if (line.event !== undefined) {
        counts.events += 1;
        why = problem(get('event.schema.json'), line, text);
      } else {
        counts.replies += 1;
        why = command === undefined ? `reply to no request: ${text}` : problem(get(`reply.schema.json#/$defs/${command}`), line, text);
      }
      if (why) problems.push(why);
    }
    return { problems, counts };
  };
}
