// Hand-written Relay artifacts (ConcreteRequest objects, the shape the
// relay-compiler emits) for the test inbox page: the thread-list query with
// its @connection on the mailbox, its pagination query, and a small
// unrelated viewer-settings query, and the query the page takes the server's
// thread updates through. The normalization side selects every field
// the inbox scripts read; the reader side reads the same fields, through the
// connection field instead of the raw one.
//
// Connection fields use Instagram's snake_case names; call
// `useSnakeCaseConnections(ConnectionInterface)` before any query runs.

export const CONNECTION_KEY = "IGDInboxTray_threads";

export function useSnakeCaseConnections(ConnectionInterface) {
  ConnectionInterface.inject({
    CURSOR: "cursor", EDGES: "edges", END_CURSOR: "end_cursor", HAS_NEXT_PAGE: "has_next_page",
    HAS_PREV_PAGE: "has_previous_page", NODE: "node", PAGE_INFO: "page_info", PAGE_INFO_TYPE: "XFBPageInfo",
    START_CURSOR: "start_cursor",
  });
}

const scalar = (name) => ({ kind: "ScalarField", alias: null, name, args: null, storageKey: null });
const scalars = (...names) => names.map(scalar);
const linked = (name, concreteType, plural, selections, extra = {}) => ({
  kind: "LinkedField", alias: null, name, args: null, storageKey: null, concreteType, plural, selections, ...extra,
});
const variable = (name) => ({ kind: "Variable", name, variableName: name });
const inline = (type, selections) => ({ kind: "InlineFragment", type, abstractKey: null, selections });

const messageSelections = [
  ...scalars("__typename", "id", "message_id", "timestamp_ms", "sender_fbid", "content_type", "text_body",
    "igd_snippet", "tombstone_reason", "expiration_timestamp_ms", "is_reported"),
  linked("content", null, false, scalars("__typename", "text")),
  linked("reactions", null, true, scalars("__typename", "log_message_id", "timestamp_ms", "sender_fbid", "emoji")),
];

const threadSelections = [
  ...scalars("__typename", "id", "thread_key", "thread_fbid", "thread_id", "thread_title", "thread_image_url",
    "is_group", "is_pin", "is_muted", "marked_as_unread", "folder", "system_folder", "last_activity_timestamp_ms",
    "viewer_id"),
  linked("viewer", "XFBIGDirectViewer", false, scalars("__typename", "id", "interop_messaging_user_fbid", "pk", "username")),
  linked("users", "XFBIGDirectUser", true,
    scalars("__typename", "id", "username", "full_name", "profile_pic_url", "is_verified")),
  linked("slide_read_receipts", "XFBIGDirectReadReceipt", true, scalars("participant_fbid", "watermark_timestamp_ms")),
  linked("slide_messages", "XFBIGDirectMessageConnection", false, [
    linked("edges", "XFBIGDirectMessageEdge", true, [linked("node", "XFBIGDirectMessage", false, messageSelections)]),
  ], { args: [{ kind: "Literal", name: "first", value: 20 }], storageKey: "slide_messages(first:20)" }),
];

// The thread connection. An edge node is a thread, an inbox item that wraps
// one, or something else (a suggestion row) that the inbox scripts count
// but do not list.
const threads = (name, args, alias = null) =>
  linked(name, "XFBIGDirectThreadConnection", false, [
    linked("edges", "XFBIGDirectThreadEdge", true, [
      scalar("cursor"),
      linked("node", null, false, [
        scalar("__typename"),
        inline("XFBIGDirectViewerThread", threadSelections),
        inline("IGDInboxItem", [linked("as_ig_direct_thread", "XFBIGDirectViewerThread", false, threadSelections)]),
        scalar("id"),
      ]),
    ]),
    linked("page_info", "XFBPageInfo", false, scalars("end_cursor", "has_next_page")),
  ], { args, alias });

const pinned = linked("pinned_threads_v2", "XFBIGDirectPinnedThread", true, [
  ...scalars("__typename", "id"),
  linked("thread", "XFBIGDirectViewerThread", false, threadSelections),
]);

// A query of the mailbox with its thread connection (`extra` before it) on
// both sides: the raw field and its connection handle for normalization,
// the connection field for the reader.
function mailboxQuery(name, argNames, extra = []) {
  const args = argNames.filter((a) => a !== "IGDIsProfessionalAccountGK").sort().map(variable);
  const handle = { kind: "LinkedHandle", alias: null, name: "threads", args, filters: ["folder"], handle: "connection",
    key: CONNECTION_KEY };
  const mailbox = (selections) => [linked("xfb_inbox_mailbox", "XFBIGDirectMailbox", false, selections)];
  return request(name, argNames,
    mailbox([...scalars("__typename", "id"), ...extra, threads("threads", args), handle]),
    mailbox([scalar("id"), ...extra, threads(`__${CONNECTION_KEY}_connection`, [variable("folder")], "threads")]));
}

function request(name, argNames, operationSelections, readerSelections) {
  const argumentDefinitions = argNames.map((n) => ({ kind: "LocalArgument", name: n, defaultValue: null }));
  return {
    kind: "Request",
    fragment: { kind: "Fragment", name, type: "Query", abstractKey: null, metadata: null, argumentDefinitions,
      selections: readerSelections },
    operation: { kind: "Operation", name, argumentDefinitions, selections: operationSelections },
    params: { id: null, cacheID: name, metadata: {}, name, operationKind: "query", text: `query ${name}` },
  };
}

// The inbox list query: first page of the folder's threads and the pins.
export const InboxListQuery = mailboxQuery("IGDInboxListQuery", ["IGDIsProfessionalAccountGK", "first", "folder"], [pinned]);
// The next page after a cursor.
export const InboxPageQuery = mailboxQuery("IGDInboxListPaginationQuery", ["after", "first", "folder"]);

// Unrelated query the page also keeps retained.
const settings = [linked("viewer_settings", "XFBViewerSettings", false, scalars("id", "show_previews"))];
export const ViewerSettingsQuery = request("PolarisViewerSettingsQuery", [], settings, settings);
// One thread as the test server sends it with a page event.
const thread = [linked("test_thread", "XFBIGDirectViewerThread", false, threadSelections)];
export const ThreadQuery = request("CorvidTestThreadQuery", [], thread, thread);
