// The files the server may send: the page in public/ and the d3-hierarchy
// module, read once at start-up into a map from URL path to body and type.
// Nothing outside this map is ever read on request, so no URL can reach
// another file.
import { readdir, readFile } from 'node:fs/promises';
import { createRequire } from 'node:module';
import { dirname, extname, join, relative, sep } from 'node:path';
import { fileURLToPath } from 'node:url';

const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.svg': 'image/svg+xml',
  '.png': 'image/png',
};

async function addTree(files, root, directory, urlPrefix) {
  for (const item of await readdir(directory, { withFileTypes: true })) {
    const path = join(directory, item.name);
    if (item.isDirectory()) {
      await addTree(files, root, path, urlPrefix);
    } else if (item.isFile() && TYPES[extname(item.name)]) {
      const urlPath = `${urlPrefix}/${relative(root, path).split(sep).join('/')}`;
      files.set(urlPath, { body: await readFile(path), type: TYPES[extname(item.name)] });
    }
  }
}

function publicDir() {
  return join(dirname(fileURLToPath(import.meta.url)), '..', 'public');
}

// Map of URL path ("/index.html", "/vendor/d3-hierarchy.js") to { body, type }.
export async function staticFiles() {
  const files = new Map();
  await addTree(files, publicDir(), publicDir(), '');
  // The package's one-file ES module build.
  const d3 = createRequire(import.meta.url).resolve('d3-hierarchy');
  files.set('/vendor/d3-hierarchy.js', { body: await readFile(d3), type: TYPES['.js'] });
  return files;
}
