// Uploads a file to vantry-server with tus-js-client, an independent tus client from the npm
// registry (installed by scripts/bootstrap, for tests only), and cuts it once: in the third
// 1 MiB PATCH the upload is aborted, then a second Upload goes on from the same URL (HEAD, then
// PATCH from the server's offset). Prints {"size", "cutAt", "resumedFrom"} and exits 0 once the
// upload completed; 1 with the error otherwise.
// Usage: node tus-upload.mjs PATH/node_modules/tus-js-client ENDPOINT TOKEN FILE REMOTE-PATH
import { createRequire } from "node:module";
import { readFileSync } from "node:fs";

const [moduleDir, endpoint, token, file, remotePath] = process.argv.slice(2);
const tus = createRequire(import.meta.url)(moduleDir);
const data = readFileSync(file);
const chunkSize = 1 << 20;
let cutAt = -1;
let resumedFrom = -1;

function upload(extra) {
  return new Promise((resolve, reject) => {
    const u = new tus.Upload(data, {
      endpoint,
      chunkSize,
      headers: { Authorization: `Bearer ${token}` },
      metadata: { filename: remotePath },
      retryDelays: [50, 200, 500, 1000, 2000],
      onAfterResponse: (req, res) => {
        if (req.getMethod() === "HEAD") resumedFrom = Number(res.getHeader("Upload-Offset"));
      },
      onSuccess: () => resolve(u),
      onError: reject,
      ...extra(() => u, resolve),
    });
    u.start();
  });
}

try {
  const first = await upload((self, resolve) => ({
    onProgress: (sent) => {
      if (cutAt < 0 && sent > 2 * chunkSize && sent < data.length) {
        cutAt = sent;
        self().abort().then(() => resolve(self()));
      }
    },
  }));
  if (cutAt < 0) throw new Error("the upload was never cut");
  await upload(() => ({ uploadUrl: first.url }));
  console.log(JSON.stringify({ size: data.length, cutAt, resumedFrom }));
} catch (error) {
  console.error(String(error));
  process.exit(1);
}
