// Checks .glb files with the glTF validator: prints one line per file with its counts and one
// per issue, and exits 1 when any file has an error or a warning.
'use strict';
const fs = require('fs');
const path = require('path');
const validator = require('gltf-validator');

async function check(file) {
  const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(file)), {
    uri: path.basename(file),
    maxIssues: 100,
  });
  const issues = report.issues;
  const info = report.info || {};
  console.log(`${file}: ${issues.numErrors} errors, ${issues.numWarnings} warnings, ` +
              `${issues.numInfos} infos, ${issues.numHints} hints; ` +
              `${info.drawCallCount} draw calls, ${info.totalVertexCount} vertices, ` +
              `${info.totalTriangleCount} triangles, ${info.materialCount} materials, ` +
              `${info.maxUVs} texture coordinate sets`);
  for (const m of issues.messages)
    console.log(`  ${['error', 'warning', 'info', 'hint'][m.severity]} ${m.code} at ${m.pointer || m.offset}: ${m.message}`);
  return issues.numErrors === 0 && issues.numWarnings === 0;
}

(async () => {
  let clean = true;
  for (const file of process.argv.slice(2))
    clean = (await check(file)) && clean;
  process.exit(clean ? 0 : 1);
})().catch((e) => {
  console.log(`ERROR: ${e}`);
  process.exit(1);
});
