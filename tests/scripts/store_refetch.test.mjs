import assert from "node:assert/strict";
import { beforeEach, describe, mock, test } from "node:test";

import { InboxListQuery, InboxPageQuery, ViewerSettingsQuery, useSnakeCaseConnections } from "../pages/src/inbox_queries.mjs";
import { applyEvent, createModel, respond } from "../pages/src/model.mjs";
import { environment, relay, runScript } from "./harness.mjs";

useSnakeCaseConnections(relay.ConnectionInterface);
const { createOperationDescriptor } = relay;
const CONN = "client:mailbox:9001:__IGDInboxTray_threads_connection(folder:0)";
const refetch = (env) => runScript("store_refetch", {}, { window: { __halvyRelayEnv: env }, document: {}, location: {} });
const run = (env, op) => new Promise((resolve, reject) => env.execute({ operation: op }).subscribe({ complete: resolve, error: reject }));

// An inbox store as the page leaves it: the list query retained and run,
// then `pages - 1` further pages loaded. `server` answers every query.
async function loadedInbox({ threads = 8, first = 3, pages = 2 } = {}) {
  const model = createModel({ threads, messages: 2 });
  const server = { calls: [], answer: (name, variables) => respond(model, name, variables) };
  const network = relay.Network.create(async (params, variables) => {
    server.calls.push(params.name);
    return server.answer(params.name, variables);
  });
  const env = environment({}, network);
  const list = createOperationDescriptor(InboxListQuery, { IGDIsProfessionalAccountGK: false, first, folder: 0 });
  env.retain(list);
  await run(env, list);
  for (let p = 1; p < pages; p++) {
    const after = env.getStore().getSource().get(CONN + ":page_info").end_cursor;
    await run(env, createOperationDescriptor(InboxPageQuery, { after, first, folder: 0 }));
  }
  const src = () => env.getStore().getSource();
  const edgeKeys = () =>
    src().get(CONN).edges.__refs.map((e) => {
      const node = src().get(src().get(e).node.__ref);
      const t = node.as_ig_direct_thread ? src().get(node.as_ig_direct_thread.__ref) : node;
      return t.thread_key ? "t" + Number(t.thread_key.slice(-3)) : t.__typename;
    });
  const pageInfo = () => src().get(CONN + ":page_info");
  const bump = (i) => applyEvent(model, { type: "message", thread: model.threads[i].key, id: "new" + i, ts: Date.now() + 1000 });
  return { model, server, env, src, edgeKeys, pageInfo, bump };
}

// Calls `fn` once the next query of `env` has completed, before the script
// sees the completion.
function afterQuery(env, fn) {
  const execute = env.execute.bind(env);
  env.execute = (request) => execute(request).do({ complete: fn });
}

describe("repairing the refetched list", () => {
  test("older threads are re-attached behind the fresh page and the cursor restored", async () => {
    const inbox = await loadedInbox();
    assert.deepEqual(inbox.edgeKeys(), ["t0", "t1", "IGDInboxSuggestion", "t2", "t3", "t4", "t5"]);
    inbox.bump(4);
    const res = await refetch(inbox.env);
    assert.deepEqual([res.ok, res.conns], [true, [{ fresh: 4, appended: 3, cursorRestored: true }]]);
    assert.deepEqual(inbox.edgeKeys(), ["t4", "t0", "IGDInboxSuggestion", "t1", "t2", "t3", "t5"]);
    assert.deepEqual([inbox.pageInfo().end_cursor, inbox.pageInfo().has_next_page], ["cursor:6", true]);

    // A list loaded to its end keeps the fresh cursor.
    const whole = await loadedInbox({ threads: 6 });
    whole.bump(5);
    assert.deepEqual((await refetch(whole.env)).conns, [{ fresh: 4, appended: 3, cursorRestored: false }]);
    assert.deepEqual([whole.pageInfo().end_cursor, whole.pageInfo().has_next_page], ["cursor:3", true]);
  });

  test("nothing is published when the fresh page lost nothing", async () => {
    const inbox = await loadedInbox({ threads: 3, pages: 1 });
    let publish = null;
    afterQuery(inbox.env, () => (publish = mock.method(inbox.env.getStore(), "publish")));
    assert.deepEqual((await refetch(inbox.env)).conns, [{ fresh: 4, appended: 0, cursorRestored: false }]);
    assert.equal(publish.mock.callCount(), 0);
  });

  test("edges collected during the query are skipped; the hold is taken once", async () => {
    const inbox = await loadedInbox();
    const store = inbox.env.getStore();
    const holdGC = mock.method(store, "holdGC");
    const window = { __halvyRelayEnv: inbox.env };
    await runScript("store_refetch", {}, { window, document: {}, location: {} });
    assert.equal(holdGC.mock.callCount(), 1);
    assert.ok(window.__halvyGCHold && typeof window.__halvyGCHold.dispose === "function");

    const t3edge = inbox.src().get(CONN).edges.__refs[inbox.edgeKeys().indexOf("t3")];
    const answer = inbox.server.answer;
    inbox.server.answer = (name, variables) => {
      inbox.src().remove(t3edge);
      return answer(name, variables);
    };
    const res = await runScript("store_refetch", {}, { window, document: {}, location: {} });
    assert.equal(holdGC.mock.callCount(), 1);
    assert.equal(res.conns[0].appended, 2);
    assert.ok(!inbox.edgeKeys().includes("t3"));
  });

  test("the page's record source type is replaced by a plain one when it rejects the records", async () => {
    const inbox = await loadedInbox();
    const src = inbox.src();
    Object.defineProperty(src, "constructor", { value: function Broken() { throw new Error("no"); } });
    inbox.bump(4);
    assert.equal((await refetch(inbox.env)).ok, true);
    assert.equal(inbox.edgeKeys().length, 7);
  });
});

describe("choosing the query", () => {
  // Roots retained in this order; answers which query the script ran.
  async function executedWith(...requests) {
    const inbox = await loadedInbox({ pages: 1 });
    const store = inbox.env.getStore();
    store._roots.clear();
    for (const [request, variables, retained = true] of requests) {
      const op = createOperationDescriptor(request, variables);
      const handle = inbox.env.retain(op);
      if (!retained) handle.dispose();
    }
    inbox.server.calls.length = 0;
    const res = await refetch(inbox.env);
    return { res, calls: inbox.server.calls };
  }
  const named = (name) => ({ ...ViewerSettingsQuery, params: { ...ViewerSettingsQuery.params, name } });
  const listVars = { IGDIsProfessionalAccountGK: false, first: 3, folder: 0 };

  test("the list query wins over an earlier fallback", async () => {
    const { calls } = await executedWith([named("DirectInboxThreadsQuery"), {}], [InboxListQuery, listVars]);
    assert.deepEqual(calls, ["IGDInboxListQuery"]);
  });

  test("page queries never count; a retained thread-list query stands in", async () => {
    const pageVars = { after: "cursor:3", first: 3, folder: 0 };
    const { calls } = await executedWith([InboxPageQuery, pageVars], [named("igdthreadlistquery"), {}]);
    assert.deepEqual(calls, ["igdthreadlistquery"]);
    const released = await executedWith([InboxPageQuery, pageVars], [named("DirectInboxQuery"), {}, false]);
    assert.deepEqual([released.res.reason, released.calls], ["no list query", []]);
  });
});

describe("failures", () => {
  test("without an environment, roots or connection", async () => {
    assert.deepEqual(await refetch(undefined), { ok: false, reason: "no env" });
    const bare = { getStore: () => ({ x: new Map([["a", { refCount: 1 }]]), getSource: () => ({}) }), execute() {} };
    assert.deepEqual(await refetch(bare), { ok: false, reason: "no roots" });
    const env = environment({});
    env.retain(createOperationDescriptor(InboxListQuery, { IGDIsProfessionalAccountGK: false, first: 3, folder: 0 }));
    assert.deepEqual(await refetch(env), { ok: false, reason: "no connection" });
  });

  test("a failed query or publication reports its error and changes nothing", async () => {
    const inbox = await loadedInbox();
    const before = inbox.edgeKeys();
    inbox.server.answer = () => {
      throw new Error("x".repeat(200));
    };
    const failed = await refetch(inbox.env);
    assert.deepEqual([failed.ok, failed.reason], [false, "x".repeat(120)]);
    assert.deepEqual(inbox.edgeKeys(), before);

    const again = await loadedInbox();
    again.bump(4);
    afterQuery(again.env, () => {
      again.env.getStore().publish = () => {
        throw new Error("read-only");
      };
    });
    const res = await refetch(again.env);
    assert.deepEqual([res.ok, res.reason], [false, "publish: read-only"]);

    const throwing = await loadedInbox();
    throwing.env.execute = () => {
      throw "no network"; // eslint-disable-line no-throw-literal
    };
    assert.equal((await refetch(throwing.env)).reason, "no network");
  });
});

describe("waiting for the query", () => {
  beforeEach(() => mock.timers.reset());

  async function withDelay(ms) {
    const inbox = await loadedInbox();
    inbox.bump(4);
    const answer = inbox.server.answer;
    mock.timers.enable({ apis: ["setTimeout"] });
    inbox.server.answer = (name, variables) => new Promise((resolve) => setTimeout(() => resolve(answer(name, variables)), ms));
    let result = null;
    const pending = refetch(inbox.env).then((r) => (result = r));
    for (let i = 0; i < 400 && result === null; i++) {
      await new Promise((resolve) => setImmediate(resolve));
      mock.timers.tick(50);
    }
    await pending;
    mock.timers.reset();
    return result;
  }

  test("a query done within 12 seconds is repaired; a slower one times out", async () => {
    const quick = await withDelay(11900);
    assert.equal(quick.ok, true, JSON.stringify(quick));
    const slow = await withDelay(13000);
    assert.deepEqual([slow.ok, slow.reason, typeof slow.execMs], [false, "timeout", "number"]);
  });
});
