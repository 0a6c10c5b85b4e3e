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
    entryPoints: [path.join(here, "src/inbox_page.jsx")],
    bundle: true,
    write: false,
    format: "iife",
    jsx: "automatic",
    target: "es2020",
    define: { "process.env.NODE_ENV": '"production"' },
    logLevel: "error",
  });
  return Buffer.from(result.outputFiles[0].contents);
}
const bundle = await loadBundle();

const INBOX_HTML = `<!doctype html>
<html><head><meta charset="utf-8"><title>Chats • Instagram</title></head>
<body><div id="root"></div><script src="/static/inbox.js"></script></body></html>`;
const PLAIN_HTML = `<!doctype html>
<html><head><meta charset="utf-8"><title>Chats • Instagram</title></head>
<body><a href="/direct/inbox/">Inbox</a>
<a href="/direct/t/1/"><div role="button"><span dir="auto">One</span><time>1</time></div></a>
<a href="/direct/t/2/"><div role="button"><span dir="auto">Two</span><time>2</time></div></a>
</body></html>`;

function queue(event) {
  applyEvent(model, event);
  events.push({ seq: ++seq, event });
  return seq;
}

const readBody = (req) =>
  new Promise((resolve, reject) => {
    const chunks = [];
    req.on("data", (c) => chunks.push(c));
    req.on("end", () => resolve(Buffer.concat(chunks).toString("utf8")));
    req.on("error", reject);
  });

function send(res, status, type, body) {
  res.writeHead(status, { "content-type": type, "cache-control": "no-store" });
  res.end(body);
}
const sendJSON = (res, value, status = 200) => send(res, status, "application/json", JSON.stringify(value));

const server = http.createServer(async (req, res) => {
  try {
    const url = new URL(req.url, "http://127.0.0.1");
    const p = url.pathname;
    if (req.method === "GET" && p === "/static/inbox.js") return send(res, 200, "text/javascript", bundle);
    if (req.method === "GET" && p === "/direct/plain/") return send(res, 200, "text/html; charset=utf-8", PLAIN_HTML);
    if (req.method === "GET" && (p === "/direct/inbox/" || p.startsWith("/direct/t/"))) {
      return send(res, 200, "text/html; charset=utf-8", INBOX_HTML);
    }
    if (req.method === "POST" && p === "/api/graphql") {
      const { name, variables } = JSON.parse(await readBody(req));
      queries++;
      if (config.delayMs > 0) await new Promise((r) => setTimeout(r, config.delayMs));
      if (name === "IGDInboxListQuery" && config.failList) return send(res, 500, "text/plain", config.failList);
      return sendJSON(res, respond(model, name, variables));
    }
    if (req.method === "GET" && p === "/__test/events") {
      const after = Number(url.searchParams.get("after")) || 0;
      return sendJSON(res, { events: events.filter((e) => e.seq > after) });
    }
    if (req.method === "POST" && p === "/__test/event") return sendJSON(res, { seq: queue(JSON.parse(await readBody(req))) });
    if (req.method === "POST" && p === "/__test/applied") {
      applyEvent(model, JSON.parse(await readBody(req)));
      return sendJSON(res, { ok: true });
    }
    if (req.method === "POST" && p === "/__test/config") {
      const change = JSON.parse(await readBody(req));
      if ("suggestion" in change) model.suggestion = !!change.suggestion;
      config = { ...config, ...change };
      return sendJSON(res, config);
    }
    if (req.method === "POST" && p === "/__test/reset") {
      modelOptions = { ...modelOptions, ...JSON.parse((await readBody(req)) || "{}") };
      model = createModel(modelOptions);
      events = [];
      return sendJSON(res, { ok: true });
    }
    if (req.method === "GET" && p === "/__test/model") {
      return sendJSON(res, { keys: ordered(model).map((t) => t.key), queries });
    }
    send(res, 404, "text/plain", "not found");
  } catch (err) {
    send(res, 500, "text/plain", String(err && err.message ? err.message : err));
  }
});

server.listen(Number(option("port", 0)), "127.0.0.1", () => {
  process.stdout.write(`PORT ${server.address().port}\n`);
});

let pending = "";
process.stdin.setEncoding("utf8");
process.stdin.on("data", (chunk) => {
  pending += chunk;
  let nl;
  while ((nl = pending.indexOf("\n")) >= 0) {
    const line = pending.slice(0, nl).trim();
    pending = pending.slice(nl + 1);
    if (line) {
      try {
        queue(JSON.parse(line));
      } catch (err) {
        process.stderr.write(`bad event line: ${err.message}\n`);
      }
    }
  }
});
process.stdin.on("end", () => process.exit(0));
process.stdin.on("close", () => process.exit(0));
process.on("SIGTERM", () => process.exit(0));
