// A push relay for trying Corvid on one machine, on 127.0.0.1 only. It
// speaks the relay protocol (POST /v1/pair, /v1/push, /v1/unpair,
// /v1/status with JSON bodies and a bearer secret) and prints every request
// it gets as one line. Nothing leaves the machine: no phone is notified.
//
//   node tools/demo_relay.mjs [--port 0] [--code 123456] [--port-file FILE]
//
// Once it listens it prints its address and writes the port number into
// FILE, when given. Pairing answers 200 with a new secret
// for the code given (one pairing per request, as a phone showing that
// code would), 404 for any other code; the other paths answer 200 for a
// secret it handed out and 401 for any other, as a relay that forgot the
// pairing would. Exits on SIGTERM or SIGINT.
import fs from "node:fs";
import http from "node:http";
import { text } from "node:stream/consumers";
import { parseArgs } from "node:util";

const { values: option } = parseArgs({
  options: {
    port: { type: "string", default: "0" },
    code: { type: "string", default: "123456" },
    "port-file": { type: "string" },
  },
});
const secrets = new Set();
let pairings = 0;

const clock = () => new Date().toTimeString().slice(0, 8);
const reply = (res, status, body) => {
  res.writeHead(status, { "content-type": "application/json" });
  res.end(JSON.stringify(body));
  return status;
};

function answer(path, bearer, body, res) {
  if (path === "/v1/pair") {
    if (body.code !== option.code) return reply(res, 404, { error: "unknown or expired code" });
    const secret = `demo-secret-${++pairings}`;
    secrets.add(secret);
    return reply(res, 200, { secret, deviceModel: "iPhone (demo)", environment: "production" });
  }
  if (!["/v1/push", "/v1/unpair", "/v1/status"].includes(path)) return reply(res, 404, { error: "no such path" });
  if (!secrets.has(bearer)) return reply(res, 401, { error: "unknown pairing" });
  if (path === "/v1/unpair") secrets.delete(bearer);
  return reply(res, 200, {});
}

const server = http.createServer(async (req, res) => {
  const raw = await text(req);
  const auth = /^Bearer (.+)$/.exec(req.headers.authorization || "");
  const bearer = auth ? auth[1] : null;
  let body = null;
  try {
    body = JSON.parse(raw || "null");
  } catch {
    // shown as it came
  }
  const status =
    req.method !== "POST" || body === null || typeof body !== "object" || Array.isArray(body)
      ? reply(res, 400, { error: "expected a POST with a JSON object" })
      : answer(new URL(req.url, "http://127.0.0.1").pathname, bearer, body, res);
  const shown = body !== null ? JSON.stringify(body) : JSON.stringify(raw);
  process.stdout.write(`relay ${clock()}  ${req.method} ${req.url}${bearer ? ` [${bearer}]` : ""} ${shown} → ${status}\n`);
});

server.listen(Number(option.port), "127.0.0.1", () => {
  const { port } = server.address();
  process.stdout.write(`relay listening on http://127.0.0.1:${port} (pairing code ${option.code})\n`);
  if (option["port-file"]) fs.writeFileSync(option["port-file"], `${port}\n`);
});
for (const signal of ["SIGTERM", "SIGINT"]) process.on(signal, () => process.exit(0));
