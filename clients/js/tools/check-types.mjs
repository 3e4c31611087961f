#!/usr/bin/env node
// Keeps the client's type declarations true to docs/methods.md, and so to the host:
//
//   node clients/js/tools/check-types.mjs
//
// - the declared methods are exactly the documented ones;
// - every method's declared parameters are its documented ones, and so are the members of
//   its object parameters (image objects, search options, areas), read from the reference
//   as the method reference check reads them;
// - every example request's params and every example reply's result type-check against
//   the method's declared types (excess or missing members and wrong types fail). The
//   method reference check sends the same examples to the real host, so a reply shape
//   that changes in the host breaks that check, and a declaration that drifts from the
//   reply breaks this one.
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import ts from 'typescript';
import { makeChecker, parameterTree, readReference } from '../../../docs/check_method_reference.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const packageDir = resolve(here, '..');
const declarations = join(packageDir, 'quorvane-client.d.ts');

const tally = makeChecker();
const check = tally.check;
const show = (v) => JSON.stringify(v);
const difference = (a, b) => [...a].filter((x) => !b.has(x));

// ---- the reference, read as the method reference check reads it --------------------------

const sections = readReference().map((s) => ({
  name: s.name,
  parameters: parameterTree(s.parameters),
  request: s.request ? JSON.parse(s.request) : null,
  reply: s.reply ? JSON.parse(s.reply) : null,
}));

// ---- the declarations, read with the compiler --------------------------------------------

const options = { strict: true, noEmit: true, target: ts.ScriptTarget.ES2022, module: ts.ModuleKind.ESNext,
  moduleResolution: ts.ModuleResolutionKind.Bundler, skipLibCheck: false, types: [] };

// Each method's parameters as a tree like the reference's: name -> members of an object
// parameter, null for anything else (strings, numbers, arrays).
function declaredMethods() {
  const program = ts.createProgram([declarations], options);
  const checker = program.getTypeChecker();
  const diagnostics = ts.getPreEmitDiagnostics(program);
  check('the declarations compile on their own', diagnostics.length === 0, format(diagnostics));
  const source = program.getSourceFile(declarations);
  const methods = source.statements.find((s) => ts.isInterfaceDeclaration(s) && s.name.text === 'QuorvaneMethods');
  const propertiesOf = (t) => (t.isUnion() ? t.types.flatMap(propertiesOf) : checker.getPropertiesOfType(t));
  const tree = (t, depth) => {
    const members = {};
    for (const p of propertiesOf(t)) {
      const inner = checker.getNonNullableType(checker.getTypeOfSymbol(p));
      const object = inner.flags & ts.TypeFlags.Object && !checker.isArrayType(inner) && depth < 4;
      members[p.name] = object ? { ...members[p.name], ...tree(inner, depth + 1) } : null;
    }
    return members;
  };
  const result = new Map();
  for (const method of checker.getPropertiesOfType(checker.getTypeAtLocation(methods))) {
    const entry = checker.getTypeOfSymbol(method);
    result.set(method.name, tree(checker.getTypeOfSymbol(checker.getPropertyOfType(entry, 'params')), 0));
  }
  return result;
}

// Where two parameter trees differ: "options.minSimilarty: documented, not declared".
function treeDifferences(documented, declared, at = '') {
  const out = [];
  for (const name of new Set([...Object.keys(documented), ...Object.keys(declared)])) {
    const path = at + name;
    if (!(name in declared)) out.push(`${path}: documented, not declared`);
    else if (!(name in documented)) out.push(`${path}: declared, not documented`);
    else if (documented[name] && declared[name]) out.push(...treeDifferences(documented[name], declared[name], `${path}.`));
    else if (documented[name] && !declared[name]) out.push(`${path}: documented with members, declared without`);
  }
  return out;
}

function format(diagnostics) {
  return diagnostics.map((d) => {
    const where = d.file ? `${d.file.fileName.split('/').pop()}:${d.file.getLineAndCharacterOfPosition(d.start).line + 1}: ` : '';
    return where + ts.flattenDiagnosticMessageText(d.messageText, ' ');
  }).join('; ');
}

const declared = declaredMethods();
const documentedNames = new Set(sections.map((s) => s.name));
check('the declared methods are exactly the documented ones',
  show([...declared.keys()].sort()) === show([...documentedNames].sort()),
  `not documented ${show(difference(declared.keys(), documentedNames))}, ` +
  `not declared ${show(difference(documentedNames, new Set(declared.keys())))}`);
for (const s of sections) {
  if (!declared.has(s.name)) continue;
  const differences = treeDifferences(s.parameters, declared.get(s.name));
  check(`${s.name}: the declared parameters are the documented ones, members included`, differences.length === 0,
    differences.join('; '));
}

// ---- the examples against the declarations --------------------------------------------------

const lines = ["import type { ParamsOf, ResultOf } from './quorvane-client';"];
const lineOf = new Map();
sections.forEach((s, i) => {
  if (!s.request) return;
  lineOf.set(lines.length + 1, `${s.name}: the example request's params`);
  lines.push(`export const params${i} = (${JSON.stringify(s.request.params)}) satisfies ParamsOf<'${s.name}'>;`);
  if (s.reply && 'result' in s.reply) {
    lineOf.set(lines.length + 1, `${s.name}: the example reply's result`);
    lines.push(`export const result${i} = (${JSON.stringify(s.reply.result)}) satisfies ResultOf<'${s.name}'>;`);
  }
});
const examplesFile = join(packageDir, '__examples__.ts');
const host = ts.createCompilerHost(options);
const readFile = host.readFile.bind(host);
host.readFile = (file) => (resolve(file) === examplesFile ? lines.join('\n') : readFile(file));
const fileExists = host.fileExists.bind(host);
host.fileExists = (file) => resolve(file) === examplesFile || fileExists(file);
const program = ts.createProgram([examplesFile], options, host);
const problems = new Map();
for (const d of ts.getPreEmitDiagnostics(program)) {
  const line = d.file ? d.file.getLineAndCharacterOfPosition(d.start).line + 1 : 0;
  const what = lineOf.get(line) ?? `line ${line}`;
  problems.set(what, (problems.get(what) ?? []).concat(ts.flattenDiagnosticMessageText(d.messageText, ' ')));
}
for (const what of lineOf.values()) check(`${what} fit the declared types`, !problems.has(what), problems.get(what)?.join('; ').slice(0, 400));
for (const [what, messages] of problems) if (![...lineOf.values()].includes(what)) check(what, false, messages.join('; '));

console.log(`${tally.passed} passed, ${tally.failed} failed`);
process.exit(tally.failed === 0 && tally.passed > 0 ? 0 : 1);
