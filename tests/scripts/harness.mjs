// Runs the page scripts in node against real relay-runtime stores, with a
// minimal stand-in for the page's window and document.
import fs from "node:fs";
import { createRequire } from "node:module";
import path from "node:path";
import { fileURLToPath } from "node:url";

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, "../..");
export const relay = createRequire(path.join(root, "package.json"))("relay-runtime");

const AsyncFunction = Object.getPrototypeOf(async function () {}).constructor;
const sources = {};
const GLOBALS = ["window", "document", "location"];

// Runs scripts/<name>.js as an async function body with `args` as named
// parameters, the page objects of `page` standing in for the globals.
export function runScript(name, args, page) {
  sources[name] ??= fs.readFileSync(path.join(root, "scripts", name + ".js"), "utf8");
  const keys = Object.keys(args);
  const fn = new AsyncFunction(...keys, ...GLOBALS, sources[name]);
  return fn(...keys.map((k) => args[k]), page.window, page.document, page.location);
}

export const SELECTOR = 'a[href^="/direct/t/"]';
export const FALLBACK = 'div[role=button], a[href^="/direct/"]';
export const TAB_ELEMENTS = "span, div[role=button], div[role=tab], a";
export const INBOX_LINK = 'a[href="/direct/inbox/"], a[href^="/direct/inbox"]';

// An element whose React fiber leads, `depth` fibers up, to a component
// whose hook chain holds `state` at position `hook`.
export function rowElement(state, { depth = 3, hook = 2 } = {}) {
  let hooks = null;
  for (let i = hook; i >= 0; i--) hooks = { memoizedState: i === hook ? state : i, next: hooks };
  let fiber = { memoizedState: hooks, return: null };
  for (let i = 0; i < depth; i++) fiber = { memoizedState: null, return: fiber };
  return { childElementCount: 1, textContent: "", ["__reactFiber$" + Math.random().toString(36).slice(2)]: fiber };
}

export const leaf = (text) => ({ childElementCount: 0, textContent: text });

// A DOM element `tag` with attributes and children (elements or text);
// querySelectorAll knows "[aria-label]" and lists of tag names.
export function element(tag, attrs = {}, ...children) {
  const below = () => children.flatMap((c) => (typeof c === "string" ? [] : [c, ...c.below()]));
  const matches = (e, sel) => (sel === "[aria-label]" ? "aria-label" in e.attrs : sel.split(", ").includes(e.tag));
  return {
    tag, attrs, below,
    textContent: children.map((c) => (typeof c === "string" ? c : c.textContent)).join(""),
    getAttribute: (name) => attrs[name] ?? null,
    querySelectorAll: (sel) => below().filter((e) => matches(e, sel)),
  };
}

// A page: `matches` maps a selector to the elements it finds.
export function fakePage(matches = {}, pathname = "/direct/inbox/", title = "") {
  const queried = [];
  const document = {
    title,
    querySelectorAll(sel) {
      queried.push(sel);
      return matches[sel] || [];
    },
    querySelector: (sel) => (matches[sel] || [])[0] || null,
  };
  return { window: {}, document, location: { pathname }, queried, matches };
}

export function environment(records, network) {
  const { Environment, Network, RecordSource, Store } = relay;
  return new Environment({
    network: network || Network.create(() => Promise.reject(new Error("no network"))),
    store: new Store(new RecordSource(records)),
  });
}

// A page whose single thread row leads to `env`.
export const pageWith = (env) => fakePage({ [SELECTOR]: [rowElement(env)] });

export const snapshot = (page, args = {}) =>
  runScript("inbox_snapshot", { selector: SELECTOR, limit: 3000, recent: 5, ...args }, page);

// ---- Record fixtures in the shapes the inbox page's store holds.
export const VIEWER_FBID = "1784";
export class Records {
  constructor() {
    this.r = {
      viewer: {
        __id: "viewer",
        __typename: "XFBIGDirectViewer",
        id: "v-id",
        pk: "v-pk",
        interop_messaging_user_fbid: VIEWER_FBID,
        username: "me.viewer",
      },
    };
  }
  add(rec) {
    this.r[rec.__id] = rec;
    return { __ref: rec.__id };
  }
  list(recs) {
    return { __refs: recs.map((x) => this.add(x).__ref) };
  }
  // A thread; `messages` entries: {id, ts, from ("me" | fbid), type, text,
  // snippet, tomb, content, reactions: [{log, ts, actor, emoji}]}.
  thread(name, { messages = [], watermark = 0, receipt = true, users = ["u_" + name], ...fields } = {}) {
    const id = "thread:" + name;
    const t = {
      __id: id,
      __typename: "XFBIGDirectViewerThread",
      id,
      thread_key: "k" + name,
      thread_fbid: "f" + name,
      viewer: { __ref: "viewer" },
      system_folder: "INBOX",
      users: this.list(users.map((u) => ({ __id: "user:" + u, __typename: "User", username: u, full_name: "" }))),
      ...fields,
    };
    if (receipt !== false) {
      t.slide_read_receipts = this.list([
        { __id: id + ":r0", participant_fbid: "other", watermark_timestamp_ms: 1 },
        { __id: id + ":r1", participant_fbid: VIEWER_FBID, ...(watermark === null ? {} : { watermark_timestamp_ms: watermark }) },
      ]);
    }
    const edges = messages.map((m, i) => ({ __id: `${id}:e${i}`, node: this.add(this.message(m)) }));
    t["slide_messages(first:20)"] = this.add({ __id: id + ":sm", edges: this.list(edges) });
    this.add(t);
    return t;
  }
  message({ id, ts = 0, from = "other", type = "TEXT", text = "text " + id, snippet, tomb, content, reactions = [] }) {
    const m = {
      __id: "message:" + id,
      __typename: "XFBIGDirectMessage",
      message_id: id,
      timestamp_ms: ts,
      sender_fbid: from === "me" ? VIEWER_FBID : from,
      content_type: type,
      text_body: text,
      igd_snippet: snippet,
      tombstone_reason: tomb,
      content: this.add({ __id: "content:" + id, __typename: content || "XFBIGDSlideMessageText" }),
    };
    m.reactions = this.list(
      reactions.map((r, i) => ({
        __id: `${m.__id}:x${i}`,
        log_message_id: r.log,
        timestamp_ms: r.ts,
        sender_fbid: r.actor === "me" ? VIEWER_FBID : r.actor,
        emoji: r.emoji,
      })),
    );
    return m;
  }
  // A mailbox with connections {key: [threads], ...} and pin entries.
  mailbox({ connections = {}, pins, hasNext = {}, name = "mailbox" } = {}) {
    const mb = { __id: name, __typename: "XFBIGDirectMailbox" };
    for (const [key, threads] of Object.entries(connections)) {
      const edges = threads.map((t, i) => ({ __id: `${name}:${key}:e${i}`, node: t && { __ref: t.__id } }));
      const conn = { __id: `${name}:${key}`, edges: this.list(edges) };
      if (key in hasNext) conn.page_info = this.add({ __id: conn.__id + ":pi", has_next_page: hasNext[key] });
      mb[key] = this.add(conn);
    }
    if (pins) mb.pinned_threads_v2 = this.list(pins.map((p, i) => ({ __id: `${name}:pin${i}`, ...p })));
    this.add(mb);
    return mb;
  }
  env() {
    return environment(this.r);
  }
}
