// Starts s3rver (installed by scripts/bootstrap, for tests only), which checks AWS Signature
// Version 4 on every request, on the loopback interface with one bucket and its files in DIR.
// Its access key and secret are both "S3RVER". Prints "listening PORT".
// Usage: node s3rver-emulator.mjs PATH/node_modules/@20minutes/s3rver DIR BUCKET [PORT]
import { createRequire } from "node:module";

const [moduleDir, directory, bucket, port = "0"] = process.argv.slice(2);
const S3rver = createRequire(import.meta.url)(moduleDir);
const server = new S3rver({
  address: "127.0.0.1",
  port: Number(port),
  directory,
  silent: true,
  configureBuckets: [{ name: bucket, configs: [] }],
});
const { port: bound } = await server.run();
console.log(`listening ${bound}`);
