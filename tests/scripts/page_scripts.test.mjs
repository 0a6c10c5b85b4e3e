// The page scripts in node against real relay-runtime stores, filled by the
// test inbox page's own queries from its model (tests/pages), with a
// minimal stand-in for the page's window and document.
import assert from "node:assert/strict";
import fs from "node:fs";
import { createRequire } from "node:module";
import { mock, test } from "node:test";

import { InboxListQuery, InboxPageQuery, ViewerSettingsQuery, useSnakeCaseConnections } from "../pages/src/inbox_queries.mjs";
import { VIEWER, applyEvent, createModel, message, respond } from "../pages/src/model.mjs";

process.env.NODE_ENV = "production"; // as the page's bundle: no warnings about fields a payload leaves out
const relay = createRequire(import.meta.url)("relay-runtime");
useSnakeCaseConnections(relay.ConnectionInterface);
const { createOperationDescriptor: operation } = relay;

// Runs scripts/<name>.js as an async function body with `args` as named parameters.
const AsyncFunction = (async () => {}).constructor;
const sources = {};
function runScript(name, args, { window = {}, document = { querySelectorAll: () => [] } } = {}) {
  sources[name] ??= fs.readFileSync(new URL(`../../scripts/${name}.js`, import.meta.url), "utf8");
  const body = new AsyncFunction(...Object.keys(args), "window", "document", "location", sources[name]);
  return body(...Object.values(args), window, document, { pathname: "/direct/inbox/" });
}

// A page whose thread row has a React fiber that leads, two fibers up, to a
// hook chain holding `state` second.
const SELECTOR = 'a[href^="/direct/t/"]';
const pageOf = (state) => {
  const row = { __reactFiber$k3x9: { return: { return: { memoizedState: { next: { memoizedState: state } } } } } };
  return { window: {}, document: { querySelectorAll: (sel) => (sel === SELECTOR ? [row] : []) } };
};
const snapshot = (env, args = {}, page = pageOf(env)) =>
  runScript("inbox_snapshot", { selector: SELECTOR, limit: 3000, recent: 5, ...args }, page);

const environment = (network = relay.Network.create(() => Promise.reject(new Error("no network")))) =>
  new relay.Environment({ network, store: new relay.Store(new relay.RecordSource()) });
const LIST = { IGDIsProfessionalAccountGK: false, first: 20, folder: 0 };
// A store holding the answers of `model` to the page's queries.
function storeOf(model, queries = [[InboxListQuery, LIST]]) {
  const env = environment();
  for (const [query, vars] of queries) {
    env.commitPayload(operation(query, vars), respond(model, query.params.name, vars).data);
  }
  return env;
}
const keys = (result) => result.threads.map((t) => Number(t.key.slice(-10)));

test("the environment is found through the row fibers, cached, and found again once its store is empty", async () => {
  let env = storeOf(createModel({ threads: 2, messages: 0 }));
  const page = pageOf(env);
  assert.equal((await snapshot(env, {}, page)).threads.length, 2);
  page.document.querySelectorAll = () => [];
  assert.equal((await snapshot(env, {}, page)).threads.length, 2, "the cached environment serves without rows");
  env.getStore().getSource().clear(); // emptied, as when the page starts over; the rows now lead to another
  env = storeOf(createModel({ threads: 3, messages: 0 }));
  page.document = pageOf({ environment: env }).document; // as the `environment` member of a hook state
  assert.equal((await snapshot(env, {}, page)).threads.length, 3);
  assert.equal(page.window.__halvyRelayEnv, env);
  assert.equal(await snapshot(env, {}, pageOf({ unrelated: true })), null);
});

test("the longest connection leads, later ones append what it lacks, pins come first and once", async () => {
  const model = createModel({ threads: 14, messages: 1 });
  model.threads[4].fields = { thread_title: "" };
  const more = [InboxPageQuery, { after: "cursor:2", first: 10, folder: 1 }];
  const res = await snapshot(storeOf(model, [[InboxListQuery, { ...LIST, first: 5 }], more]));
  assert.deepEqual(keys(res), [5, 2, 3, 4, 6, 7, 8, 9, 10, 11, 0, 1]);
  assert.deepEqual([res.hasNext, res.connKey, res.pinnedCount, res.nodeInfo, res.viewerUsername],
    [true, "__IGDInboxTray_threads_connection(folder:1)", 1, "IGDInboxSuggestion:1", VIEWER.username]);
  const row = Object.fromEntries(res.threads.map((t) => [Number(t.key.slice(-10)), t]));
  assert.deepEqual([row[2].connMask, row[0].connMask, row[11].connMask], [3, 2, 1]);
  assert.deepEqual([row[4].title, row[4].username, row[0].username], ["Friend 40, friend_41, Friend 42", "", "friend_0"]);
});

test("pending without any list, all inbox threads without a mailbox, keyless threads by their fbid", async () => {
  assert.deepEqual(await snapshot(storeOf(createModel({ threads: 0 }))), {
    threads: [], total: 0, hasNext: null, source: "pending", connKey: "", viewerUsername: "",
  });
  const model = createModel({ threads: 7, messages: 0 });
  model.threads[2].fields = { system_folder: "PENDING" };
  const env = storeOf(model);
  env.getStore().getSource().remove("mailbox:" + VIEWER.pk);
  const all = await snapshot(env);
  assert.deepEqual([all.source, keys(all)], ["all", [5, 0, 1, 3, 4, 6]]);

  const keyless = createModel({ threads: 4, messages: 0 });
  keyless.threads[0].fields = { thread_key: "", last_activity_timestamp_ms: null };
  keyless.threads[1].fields = { thread_key: null, thread_fbid: null, thread_id: null, id: null };
  keyless.threads[2].fields = { last_activity_timestamp_ms: 70 };
  keyless.threads[3].fields = { last_activity_timestamp_ms: null }; // takes the sort time of the row above
  const res = await snapshot(storeOf(keyless));
  assert.deepEqual([res.threads.map((t) => [t.id.slice(-2), t.key.slice(-2), t.sortTs]), res.noKeyCount],
    [[["00", "", 9007199254740991], ["02", "02", 70], ["03", "03", 70]], 1]);
  const cut = await snapshot(storeOf(keyless), { limit: 1 });
  assert.deepEqual([cut.threads.length, cut.total], [1, 3]);
});

// Rows of a one-thread inbox: its messages, watermark, thread fields and
// store edits, and what the row must say.
const O = createModel({ threads: 1 }).threads[0].users[0].fbid;
const ME = VIEWER.fbid;
const m = (id, ts, sender = O, text = "t", fields = undefined) => message(id, ts, sender, text, { fields });
const typed = (id, ts, content_type) => m(id, ts, O, "t", { content_type });
const reacted = (sender) => message("base", 1, O, "hi", { reactions: [{ log: "mid.$log", ts: 5, sender, emoji: "❤" }] });
const link = (src, id, fields) => src.set(id, { ...src.get(id), ...fields });
const rows = [
  ["my own reaction log gives way to the newest other message", { messages: [reacted(ME), m("log", 5, ME)] },
    { lastId: "mid.$base", previewKind: "after-my-reaction", skipped: true, reactionByMe: true }],
  ["a reaction log from the other side stays the preview", { messages: [reacted(O), m("log", 5)] },
    { lastId: "mid.$log", previewKind: "reaction", reactionEmoji: "❤", reactionTs: 5 }],
  ["my unavailable and their empty messages are passed over", {
    messages: [m("gone", 9, ME, "x", { igd_snippet: "Message unavailable" }), m("empty", 8, O, "  "), m("shown", 7, O, "hi\n  there")],
  }, { lastId: "mid.$shown", snippet: "hi there", skipped: true }],
  ["with nothing else to show they stay", { messages: [m("gone", 9, ME, "x", { tombstone_reason: "deleted" }), m("empty", 8, O, "")] },
    { lastId: "mid.$gone" }],
  ["a message from the viewer's pk counts as mine", { watermark: 0, messages: [m("m", 3, VIEWER.pk)] },
    { lastMine: true, unread: false }],
  ["only countable messages from others newer than the watermark count, and their senders", {
    watermark: 10, messages: [typed("admin", 20, "ADMIN_TEXT"), typed("log", 19, "ACTION_LOG_"), typed("xmat", 18, "SHARE_XMAT"),
      m("tomb", 17, O, "t", { tombstone_reason: "x" }), m("mine", 16, ME), m("old", 10), m("a", 11, "x"), m("b", 12, "y")],
  }, { unread: true, unreadCount: 2, unreadSenders: 2, watermark: 10 }],
  ["without the viewer's receipt everything from others is unread", { fields: { slide_read_receipts: [] }, messages: [m("a", 5)] },
    { watermark: 0, hasReceipt: false, unreadCount: 1 }],
  ["a receipt without watermark: none unread", { fields: { slide_read_receipts: [{ participant_fbid: ME }] }, messages: [m("a", 5)] },
    { unread: false, unreadCount: 0 }],
  ["a thread marked as unread is unread", { fields: { marked_as_unread: true } }, { unread: true }],
  ["with the viewer's fbid unknown, no receipt or reaction without participant is the viewer's", {
    fields: { viewer: { ...VIEWER, __typename: "XFBIGDirectViewer", interop_messaging_user_fbid: null }, viewer_id: null,
      slide_read_receipts: [{ participant_fbid: null, watermark_timestamp_ms: 99 }] },
    messages: [message("m", 5, O, "hi", { reactions: [{ ts: 6, sender: null, emoji: "x" }] })],
  }, { hasReceipt: false, reactionByMe: false, unread: true }],
  ["resolver values count unless missing, failed or of the wrong type", {
    edit(src, t) {
      const values = { client__unread_messages_count: 4, client__is_unread: true, thread_title_fallback: 7 };
      for (const [name, value] of Object.entries(values)) {
        src.set(name, { __id: name, __resolverValue: value, __resolverError: value === true ? new Error("x") : undefined });
        link(src, t, { ["$r:" + name]: { __ref: name } });
      }
    },
  }, { resolvedUnreadCount: 4, resolvedIsUnread: null, resolvedTitle: "" }],
];
for (const [name, { messages = [], watermark, fields, edit }, expected] of rows) {
  test(name, async () => {
    const model = createModel({ threads: 1, messages: 0 });
    Object.assign(model.threads[0], { messages, fields, watermark: watermark ?? model.threads[0].watermark });
    const env = storeOf(model);
    edit?.(env.getStore().getSource(), "thread:" + model.threads[0].fbid);
    const row = (await snapshot(env)).threads[0];
    assert.deepEqual(Object.fromEntries(Object.keys(expected).map((k) => [k, row[k]])), expected);
  });
}

test("recent entries: the newest displayable messages of others, at most 10", async () => {
  const model = createModel({ threads: 1, messages: 0 });
  model.threads[0].messages = Array.from({ length: 14 }, (_, i) => message("m" + i, 100 - i, i === 1 ? ME : O, "text " + i));
  const recent = async (n) => (await snapshot(storeOf(model), { recent: n })).threads[0].recent;
  const first = [{ id: "mid.$m0", ts: 100, snippet: "text 0" }, { id: "mid.$m2", ts: 98, snippet: "text 2" }];
  assert.deepEqual((await recent(25)).slice(0, 2), first);
  assert.deepEqual([(await recent(25)).length, (await recent(2)).length], [10, 2]);
  for (const n of [0, undefined, "5", -1]) assert.equal(await recent(n), undefined, String(n));
});

const CONN = "client:mailbox:9001:__IGDInboxTray_threads_connection(folder:0)";
const refetch = (env, window = { __halvyRelayEnv: env }) => runScript("store_refetch", {}, { window });
const run = (env, op) => new Promise((complete, error) => env.execute({ operation: op }).subscribe({ complete, error }));

// An inbox store as the page leaves it: the list query retained and run,
// then `pages - 1` further pages of 3. `server` answers every query.
async function loadedInbox({ threads = 8, pages = 2 } = {}) {
  const model = createModel({ threads, messages: 2 });
  const server = { calls: [], answer: (name, variables) => respond(model, name, variables) };
  const network = relay.Network.create(async (params, vars) => (server.calls.push(params.name), server.answer(params.name, vars)));
  const env = environment(network);
  const list = operation(InboxListQuery, { ...LIST, first: 3 });
  env.retain(list);
  await run(env, list);
  const src = () => env.getStore().getSource();
  const pageInfo = () => src().get(CONN + ":page_info");
  for (let p = 1; p < pages; p++) await run(env, operation(InboxPageQuery, { after: pageInfo().end_cursor, first: 3, folder: 0 }));
  const edgeKeys = () => src().get(CONN).edges.__refs.map((e) => {
    const node = src().get(src().get(e).node.__ref);
    const t = node.as_ig_direct_thread ? src().get(node.as_ig_direct_thread.__ref) : node;
    return t.thread_key ? "t" + Number(t.thread_key.slice(-3)) : t.__typename;
  });
  const bump = (i) => applyEvent(model, { type: "message", thread: model.threads[i].key, ts: Date.now() + 1000 });
  return { server, env, src, pageInfo, edgeKeys, bump };
}
// Calls `fn` once the next query has completed, before the script sees it.
const afterQuery = (env, fn) => {
  const execute = env.execute.bind(env);
  env.execute = (request) => execute(request).do({ complete: fn });
};

test("older threads are re-attached behind the fresh page and the cursor restored", async () => {
  const inbox = await loadedInbox();
  assert.deepEqual(inbox.edgeKeys(), ["t0", "t1", "IGDInboxSuggestion", "t2", "t3", "t4", "t5"]);
  inbox.bump(4);
  const res = await refetch(inbox.env);
  assert.deepEqual([res.ok, res.conns], [true, [{ fresh: 4, appended: 3, cursorRestored: true }]]);
  assert.deepEqual(inbox.edgeKeys(), ["t4", "t0", "IGDInboxSuggestion", "t1", "t2", "t3", "t5"]);
  assert.deepEqual([inbox.pageInfo().end_cursor, inbox.pageInfo().has_next_page], ["cursor:6", true]);
  const whole = await loadedInbox({ threads: 6 }); // loaded to its end: the fresh cursor stays
  whole.bump(5);
  assert.deepEqual((await refetch(whole.env)).conns, [{ fresh: 4, appended: 3, cursorRestored: false }]);
  assert.deepEqual([whole.pageInfo().end_cursor, whole.pageInfo().has_next_page], ["cursor:3", true]);
});

test("the collection hold is taken once; edges collected during the query are skipped", async () => {
  const inbox = await loadedInbox();
  const holdGC = mock.method(inbox.env.getStore(), "holdGC");
  const window = { __halvyRelayEnv: inbox.env };
  await refetch(inbox.env, window);
  const t3edge = inbox.src().get(CONN).edges.__refs[inbox.edgeKeys().indexOf("t3")];
  afterQuery(inbox.env, () => inbox.src().remove(t3edge));
  assert.equal((await refetch(inbox.env, window)).conns[0].appended, 2);
  assert.ok(!inbox.edgeKeys().includes("t3"));
  assert.deepEqual([holdGC.mock.callCount(), typeof window.__halvyGCHold.dispose], [1, "function"]);
});

test("the list query wins; a retained thread-list query stands in; page queries never count", async () => {
  const named = (name) => ({ ...ViewerSettingsQuery, params: { ...ViewerSettingsQuery.params, name } });
  const pageQuery = [InboxPageQuery, { after: "cursor:3", first: 3, folder: 0 }];
  const cases = [
    [[[named("DirectInboxThreadsQuery"), {}], [InboxListQuery, LIST]], ["IGDInboxListQuery"]],
    [[pageQuery, [named("igdthreadlistquery"), {}]], ["igdthreadlistquery"]],
    [[pageQuery, [named("DirectInboxQuery"), {}, "released"]], [], "no list query"],
  ];
  for (const [roots, calls, reason] of cases) {
    const inbox = await loadedInbox({ pages: 1 });
    inbox.env.getStore()._roots.clear();
    for (const [request, variables, released] of roots) {
      const handle = inbox.env.retain(operation(request, variables));
      if (released) handle.dispose();
    }
    inbox.server.calls.length = 0;
    const res = await refetch(inbox.env);
    const names = JSON.stringify(roots.map((r) => r[0].params.name));
    assert.deepEqual([inbox.server.calls, reason && res.reason], [calls, reason], names);
  }
});

test("failures are reported and change nothing", async () => {
  assert.deepEqual(await refetch(undefined), { ok: false, reason: "no env" });
  const empty = environment();
  empty.retain(operation(InboxListQuery, LIST));
  assert.deepEqual(await refetch(empty), { ok: false, reason: "no connection" });
  const inbox = await loadedInbox();
  const before = inbox.edgeKeys();
  inbox.server.answer = () => { throw new Error("x".repeat(200)); };
  assert.deepEqual(await refetch(inbox.env).then((r) => [r.ok, r.reason]), [false, "x".repeat(120)]);
  assert.deepEqual(inbox.edgeKeys(), before);
  const again = await loadedInbox();
  again.bump(4);
  afterQuery(again.env, () => (again.env.getStore().publish = () => { throw new Error("read-only"); }));
  assert.equal((await refetch(again.env)).reason, "publish: read-only");
});

test("a query done within 12 seconds is repaired; a slower one times out", async () => {
  for (const [ms, ok] of [[11900, true], [13000, false]]) {
    const inbox = await loadedInbox();
    inbox.bump(4);
    const answer = inbox.server.answer;
    mock.timers.enable({ apis: ["setTimeout"] });
    inbox.server.answer = (name, vars) => new Promise((resolve) => setTimeout(() => resolve(answer(name, vars)), ms));
    let result = null;
    refetch(inbox.env).then((r) => (result = r));
    for (let i = 0; i < 400 && result === null; i++) {
      await new Promise((resolve) => setImmediate(resolve));
      mock.timers.tick(50);
    }
    mock.timers.reset();
    assert.deepEqual([result.ok, result.reason], [ok, ok ? undefined : "timeout"], String(ms));
  }
});

test("a read names its store and epoch; asked again before a write it answers unchanged", async () => {
  const model = createModel({ threads: 3, messages: 2 });
  const env = storeOf(model);
  const page = pageOf(env);
  const full = await snapshot(env, {}, page);
  assert.equal(full.source, "connection");
  assert.equal(typeof full.mark, "string");
  assert.equal(full.epoch, env.getStore().getEpoch());
  const since = { unchangedSince: { mark: full.mark, epoch: full.epoch } };
  assert.deepEqual(await snapshot(env, since, page), { source: "unchanged", mark: full.mark, epoch: full.epoch });
  assert.equal((await snapshot(env, { unchangedSince: { mark: "other", epoch: full.epoch } }, page)).source, "connection");

  // A store write moves the epoch: a full read again, under the same mark.
  const [event] = applyEvent(model, { type: "message", thread: model.threads[2].key, text: "new" });
  env.commitPayload(operation(InboxListQuery, LIST), respond(model, InboxListQuery.params.name, LIST).data);
  const after = await snapshot(env, since, page);
  assert.equal(after.source, "connection");
  assert.equal(after.mark, full.mark);
  assert.ok(after.epoch > full.epoch);
  assert.ok(event);

  // Another store in the same page gets another mark.
  const other = storeOf(model);
  page.window.__halvyRelayEnv = other;
  const third = await snapshot(other, { unchangedSince: { mark: full.mark, epoch: other.getStore().getEpoch() } }, page);
  assert.equal(third.source, "connection");
  assert.notEqual(third.mark, full.mark);
});
