// Writes bonesplice.html: page.html with the styles, the page's script and the Worker's source
// (the module's script, its binary in base64, session.js and worker.js) put in its place, so
// that the page is one file that makes no request.
'use strict';
const fs = require('fs');
const path = require('path');

const [modulePath, pagePath] = process.argv.slice(2);
const read = (name) => fs.readFileSync(path.join(__dirname, name), 'utf8');
const binary = fs.readFileSync(modulePath.replace(/\.js$/, '.wasm')).toString('base64');
const worker = [
  fs.readFileSync(modulePath, 'utf8'),
  read('session.js'),
  'const kModuleBase64 = "' + binary + '";',
  read('worker.js'),
].join('\n');
// Inside a script element the text must not close it early.
const inScript = (text) => text.replace(/<\/(script)/gi, '<\\/$1');
const pieces = {
  '/* page.css */': read('page.css'),
  '/* worker */': inScript(worker),
  '/* page.js */': inScript(read('page.js')),
};
let page = read('page.html');
for (const [mark, text] of Object.entries(pieces)) {
  const at = page.indexOf(mark);
  if (at < 0) throw new Error('page.html has no ' + mark);
  page = page.slice(0, at) + text + page.slice(at + mark.length);
}
fs.writeFileSync(pagePath, page);
