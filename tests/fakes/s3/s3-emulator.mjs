// Starts the fauxqs S3 emulator (installed by scripts/bootstrap, for tests only) on the loopback
// interface alone; its own command line listens on every interface. Prints "listening PORT".
// Usage: node s3-emulator.mjs PATH/node_modules/fauxqs [PORT]
import { pathToFileURL } from "node:url";
import { join } from "node:path";

const [moduleDir, port = "0"] = process.argv.slice(2);
const { buildApp } = await import(pathToFileURL(join(moduleDir, "dist", "app.js")).href);
const app = buildApp({ logger: false });
await app.listen({ port: Number(port), host: "127.0.0.1" });
console.log(`listening ${app.server.address().port}`);
