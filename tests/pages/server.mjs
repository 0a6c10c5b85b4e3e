// Test server of the inbox page, on 127.0.0.1 only.
//
//   node server.mjs [--port 0] [--threads 8] [--messages 5]
//
// Prints "PORT <n>" on standard output once it listens, and exits when its
// standard input closes (so it dies with the process that started it) or on
// SIGTERM. It bundles src/inbox_page.jsx with esbuild at start. Each line on
// standard input is a JSON page event (see applyEvent in src/model.mjs): the
// model takes it at once, the page on its next poll.
//
// Routes:
//   GET  /direct/inbox/, /direct/t/<key>/   the inbox page
//   GET  /static/inbox.js                    the page bundle
//   POST /api/graphql                        {name, variables} -> the model's answer
//   GET  /__test/events                      an event stream of the page events, from the
//                                            first (or after the Last-Event-ID)
import http from "node:http";
import readline from "node:readline";
import { text } from "node:stream/consumers";
import { fileURLToPath } from "node:url";
import { parseArgs } from "node:util";
import esbuild from "esbuild";
import { applyEvent, createModel, respond } from "./src/model.mjs";

const string = (value) => ({ type: "string", default: value });
const { values: option } = parseArgs({ options: { port: string("0"), threads: string("8"), messages: string("5") } });
const model = createModel({ threads: Number(option.threads), messages: Number(option.messages) });
const events = [];
const listeners = new Set();
const send = (res, seq) => res.write(`id: ${seq}\ndata: ${JSON.stringify(events[seq - 1])}\n\n`);
const built = await esbuild.build({
  entryPoints: [fileURLToPath(new URL("src/inbox_page.jsx", import.meta.url))],
  bundle: true, write: false, format: "iife", jsx: "automatic", target: "es2020", logLevel: "error",
  define: { "process.env.NODE_ENV": '"production"' },
});
const bundle = Buffer.from(built.outputFiles[0].contents);
const INBOX_HTML = `<!doctype html><html><head><meta charset="utf-8"><title>Chats • Instagram</title></head>
<body><div id="root"></div><script src="/static/inbox.js"></script></body></html>`;

const routes = {
  "GET /static/inbox.js": async () => ["text/javascript", bundle],
  "GET /direct/inbox/": async () => ["text/html; charset=utf-8", INBOX_HTML],
  "POST /api/graphql": async (req) => {
    const { name, variables } = JSON.parse((await text(req)) || "{}");
    return ["application/json", JSON.stringify(respond(model, name, variables))];
  },
};

const server = http.createServer(async (req, res) => {
  const url = new URL(req.url, "http://127.0.0.1");
  if (url.pathname === "/__test/events") {
    res.writeHead(200, { "content-type": "text/event-stream", "cache-control": "no-store" });
    for (let seq = (Number(req.headers["last-event-id"]) || 0) + 1; seq <= events.length; seq++) send(res, seq);
    listeners.add(res);
    return req.on("close", () => listeners.delete(res));
  }
  const route = routes[`${req.method} ${url.pathname.startsWith("/direct/t/") ? "/direct/inbox/" : url.pathname}`];
  try {
    const [type, body] = route ? await route(req, url) : ["text/plain", "not found"];
    res.writeHead(route ? 200 : 404, { "content-type": type, "cache-control": "no-store" });
    res.end(body);
  } catch (err) {
    res.writeHead(500, { "content-type": "text/plain" });
    res.end(String(err));
  }
});
server.listen(Number(option.port), "127.0.0.1", () => process.stdout.write(`PORT ${server.address().port}\n`));

readline.createInterface({ input: process.stdin }).on("line", (line) => {
  try {
    for (const event of line.trim() ? applyEvent(model, JSON.parse(line)) : []) {
      events.push(event);
      for (const res of listeners) send(res, events.length);
    }
  } catch (err) {
    process.stderr.write(`bad event line: ${err.message}\n`);
  }
}).on("close", () => process.exit(0));
process.on("SIGTERM", () => process.exit(0));
