// Test server of the inbox page, on 127.0.0.1 only.
//
//   node server.mjs [--port 0] [--threads 8] [--messages 5] [--bundle FILE]
//
// Prints "PORT <n>" on standard output once it listens, and exits when its
// standard input closes (so it dies with the process that started it) or on
// SIGTERM. Without --bundle it bundles src/inbox_page.jsx with esbuild at
// start. Each line on standard input is a JSON page event, queued as by
// POST /__test/event.
//
// Routes:
//   GET  /direct/inbox/, /direct/t/<key>/   the inbox page
//   GET  /direct/plain/                      a page with thread links but no React
//   GET  /static/inbox.js                    the page bundle
//   POST /api/graphql                        {name, variables} -> the model's answer
//   GET  /__test/events?after=N              {events: [{seq, event}]} queued after N
//   POST /__test/event                       queue an event (model updated at once) -> {seq}
//   POST /__test/applied                     an event the page applied itself (model only)
//   POST /__test/config                      {failList: text|null, delayMs: n, suggestion: bool}
//   POST /__test/reset                       {threads, messages}: a new model, no events
//   GET  /__test/model                       {keys: thread keys in list order, queries: n}
import http from "node:http";
import fs from "node:fs";
import path from "node:path";
import readline from "node:readline";
import { fileURLToPath } from "node:url";
import { applyEvent, createModel, ordered, respond } from "./src/model.mjs";

const here = path.dirname(fileURLToPath(import.meta.url));
const args = process.argv.slice(2);
const option = (name, fallback) => {
  const i = args.indexOf("--" + name);
  return i >= 0 && i + 1 < args.length ? args[i + 1] : fallback;
};

let modelOptions = { threads: Number(option("threads", 8)), messages: Number(option("messages", 5)) };
let model = createModel(modelOptions);
let config = { failList: null, delayMs: 0 };
let events = [];
let seq = 0;
let queries = 0;

async function loadBundle() {
  const file = option("bundle", null);
  if (file) return fs.readFileSync(file);
  const esbuild = await import("esbuild");
  const result = await esbuild.build({
    entryPoints: [path.join(here, "src/inbox_page.jsx")], bundle: true, write: false, format: "iife", jsx: "automatic",
    target: "es2020", define: { "process.env.NODE_ENV": '"production"' }, logLevel: "error",
  });
  return Buffer.from(result.outputFiles[0].contents);
}
const bundle = await loadBundle();

const page = (body) => `<!doctype html>
<html><head><meta charset="utf-8"><title>Chats • Instagram</title></head>
<body>${body}</body></html>`;
const INBOX_HTML = page('<div id="root"></div><script src="/static/inbox.js"></script>');
const PLAIN_HTML = page(`<a href="/direct/inbox/">Inbox</a>
<a href="/direct/t/1/"><div role="button"><span dir="auto">One</span><time>1</time></div></a>
<a href="/direct/t/2/"><div role="button"><span dir="auto">Two</span><time>2</time></div></a>`);

function queue(event) {
  applyEvent(model, event);
  events.push({ seq: ++seq, event });
  return seq;
}

async function readJSON(req) {
  const chunks = [];
  for await (const c of req) chunks.push(c);
  return JSON.parse(Buffer.concat(chunks).toString("utf8") || "{}");
}

const HTML = "text/html; charset=utf-8";
// Each route answers [status, content type, body]; objects are sent as JSON.
const routes = {
  "GET /static/inbox.js": () => [200, "text/javascript", bundle],
  "GET /direct/plain/": () => [200, HTML, PLAIN_HTML],
  "GET /direct/inbox/": () => [200, HTML, INBOX_HTML],
  "POST /api/graphql": async (req) => {
    const { name, variables } = await readJSON(req);
    queries++;
    if (config.delayMs > 0) await new Promise((r) => setTimeout(r, config.delayMs));
    if (name === "IGDInboxListQuery" && config.failList) return [500, "text/plain", config.failList];
    return respond(model, name, variables);
  },
  "GET /__test/events": (req, url) => ({ events: events.filter((e) => e.seq > (Number(url.searchParams.get("after")) || 0)) }),
  "POST /__test/event": async (req) => ({ seq: queue(await readJSON(req)) }),
  "POST /__test/applied": async (req) => (applyEvent(model, await readJSON(req)), { ok: true }),
  "POST /__test/config": async (req) => {
    const change = await readJSON(req);
    if ("suggestion" in change) model.suggestion = !!change.suggestion;
    return (config = { ...config, ...change });
  },
  "POST /__test/reset": async (req) => {
    modelOptions = { ...modelOptions, ...(await readJSON(req)) };
    model = createModel(modelOptions);
    events = [];
    return { ok: true };
  },
  "GET /__test/model": () => ({ keys: ordered(model).map((t) => t.key), queries }),
};

const server = http.createServer(async (req, res) => {
  const send = (status, type, body) => {
    res.writeHead(status, { "content-type": type, "cache-control": "no-store" });
    res.end(body);
  };
  try {
    const url = new URL(req.url, "http://127.0.0.1");
    const at = url.pathname.startsWith("/direct/t/") ? "/direct/inbox/" : url.pathname;
    const route = routes[`${req.method} ${at}`];
    if (!route) return send(404, "text/plain", "not found");
    const answer = await route(req, url);
    if (Array.isArray(answer)) return send(...answer);
    send(200, "application/json", JSON.stringify(answer));
  } catch (err) {
    send(500, "text/plain", String(err && err.message ? err.message : err));
  }
});

server.listen(Number(option("port", 0)), "127.0.0.1", () => {
  process.stdout.write(`PORT ${server.address().port}\n`);
});

readline.createInterface({ input: process.stdin }).on("line", (line) => {
  try {
    if (line.trim()) queue(JSON.parse(line));
  } catch (err) {
    process.stderr.write(`bad event line: ${err.message}\n`);
  }
}).on("close", () => process.exit(0));
process.on("SIGTERM", () => process.exit(0));
