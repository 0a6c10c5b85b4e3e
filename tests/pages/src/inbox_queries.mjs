// Hand-written Relay artifacts (ConcreteRequest objects, the shape the
// relay-compiler emits) for the test inbox page: the thread-list query with
// its @connection on the mailbox, its pagination query, and a small
// unrelated viewer-settings query. The normalization side selects every field
// the inbox scripts read; the reader side only what the page renders.
//
// Connection fields use Instagram's snake_case names; call
// `useSnakeCaseConnections(ConnectionInterface)` before any query runs.

export const CONNECTION_KEY = "IGDInboxTray_threads";

export function useSnakeCaseConnections(ConnectionInterface) {
  ConnectionInterface.inject({
    CURSOR: "cursor",
    EDGES: "edges",
    END_CURSOR: "end_cursor",
    HAS_NEXT_PAGE: "has_next_page",
    HAS_PREV_PAGE: "has_previous_page",
    NODE: "node",
    PAGE_INFO: "page_info",
    PAGE_INFO_TYPE: "XFBPageInfo",
    START_CURSOR: "start_cursor",
  });
}

const scalar = (name) => ({ kind: "ScalarField", alias: null, name, args: null, storageKey: null });
const linked = (name, concreteType, plural, selections, extra = {}) => ({
  kind: "LinkedField",
  alias: null,
  name,
  args: null,
  storageKey: null,
  concreteType,
  plural,
  selections,
  ...extra,
});
const variable = (name) => ({ kind: "Variable", name, variableName: name });
const localArg = (name) => ({ kind: "LocalArgument", name, defaultValue: null });

const THREAD_SCALARS = [
  "__typename", "id", "thread_key", "thread_fbid", "thread_id", "thread_title", "thread_image_url",
  "is_group", "is_pin", "is_muted", "marked_as_unread", "folder", "system_folder",
  "last_activity_timestamp_ms", "viewer_id",
];
const MESSAGE_SCALARS = [
  "__typename", "id", "message_id", "timestamp_ms", "sender_fbid", "content_type", "text_body",
  "igd_snippet", "tombstone_reason", "expiration_timestamp_ms", "is_reported",
];

const reactionSelections = [
  "__typename", "log_message_id", "timestamp_ms", "sender_fbid", "emoji",
].map(scalar);

const messageSelections = [
  ...MESSAGE_SCALARS.map(scalar),
  linked("content", null, false, [scalar("__typename"), scalar("text")]),
  linked("reactions", null, true, reactionSelections),
];

const threadSelections = [
  ...THREAD_SCALARS.map(scalar),
  linked("viewer", "XFBIGDirectViewer", false,
    ["__typename", "id", "interop_messaging_user_fbid", "pk", "username"].map(scalar)),
  linked("users", "XFBIGDirectUser", true,
    ["__typename", "id", "username", "full_name", "profile_pic_url", "is_verified"].map(scalar)),
  linked("slide_read_receipts", "XFBIGDirectReadReceipt", true,
    ["participant_fbid", "watermark_timestamp_ms"].map(scalar)),
  linked("slide_messages", "XFBIGDirectMessageConnection", false, [
    linked("edges", "XFBIGDirectMessageEdge", true, [
      linked("node", "XFBIGDirectMessage", false, messageSelections),
    ]),
  ], { args: [{ kind: "Literal", name: "first", value: 20 }], storageKey: "slide_messages(first:20)" }),
];

// An edge node is a thread, an inbox item that wraps one, or something else
// (a suggestion row) that the inbox scripts count but do not list.
const edgeNodeSelections = [
  scalar("__typename"),
  { kind: "InlineFragment", type: "XFBIGDirectViewerThread", abstractKey: null, selections: threadSelections },
  {
    kind: "InlineFragment", type: "IGDInboxItem", abstractKey: null,
    selections: [linked("as_ig_direct_thread", "XFBIGDirectViewerThread", false, threadSelections)],
  },
  scalar("id"),
];

const threadsField = (args) =>
  linked("threads", "XFBIGDirectThreadConnection", false, [
    linked("edges", "XFBIGDirectThreadEdge", true, [
      scalar("cursor"),
      linked("node", null, false, edgeNodeSelections),
    ]),
    linked("page_info", "XFBPageInfo", false, [scalar("end_cursor"), scalar("has_next_page")]),
  ], { args });

const threadsHandle = (args) => ({
  kind: "LinkedHandle",
  alias: null,
  name: "threads",
  args,
  filters: ["folder"],
  handle: "connection",
  key: CONNECTION_KEY,
});

const pinnedField = linked("pinned_threads_v2", "XFBIGDirectPinnedThread", true, [
  scalar("__typename"),
  scalar("id"),
  linked("thread", "XFBIGDirectViewerThread", false, threadSelections),
]);

// Reader side: what the page renders.
const readerThread = [
  "id", "thread_key", "thread_fbid", "thread_title", "last_activity_timestamp_ms",
].map(scalar);
const readerConnection = {
  kind: "LinkedField",
  alias: "threads",
  name: `__${CONNECTION_KEY}_connection`,
  args: [variable("folder")],
  storageKey: null,
  concreteType: "XFBIGDirectThreadConnection",
  plural: false,
  selections: [
    linked("edges", "XFBIGDirectThreadEdge", true, [
      scalar("cursor"),
      linked("node", null, false, [
        scalar("__typename"),
        { kind: "InlineFragment", type: "XFBIGDirectViewerThread", abstractKey: null, selections: readerThread },
        {
          kind: "InlineFragment", type: "IGDInboxItem", abstractKey: null,
          selections: [linked("as_ig_direct_thread", "XFBIGDirectViewerThread", false, readerThread)],
        },
      ]),
    ]),
    linked("page_info", "XFBPageInfo", false, [scalar("end_cursor"), scalar("has_next_page")]),
  ],
};

function request(name, argNames, operationSelections, readerSelections) {
  const argumentDefinitions = argNames.map(localArg);
  return {
    kind: "Request",
    fragment: {
      kind: "Fragment",
      name,
      type: "Query",
      abstractKey: null,
      metadata: null,
      argumentDefinitions,
      selections: readerSelections,
    },
    operation: { kind: "Operation", name, argumentDefinitions, selections: operationSelections },
    params: { id: null, cacheID: name, metadata: {}, name, operationKind: "query", text: `query ${name}` },
  };
}

const byName = (a, b) => a.name.localeCompare(b.name);
// The mailbox with its thread connection (field and connection handle).
const mailboxOf = (args, extra = []) =>
  linked("xfb_inbox_mailbox", "XFBIGDirectMailbox", false, [
    scalar("__typename"),
    scalar("id"),
    ...extra,
    threadsField(args),
    threadsHandle(args),
  ]);

// The inbox list query: first page of the folder's threads and the pins.
const listArgs = [variable("first"), variable("folder")].sort(byName);
export const InboxListQuery = request(
  "IGDInboxListQuery",
  ["IGDIsProfessionalAccountGK", "first", "folder"],
  [mailboxOf(listArgs, [pinnedField])],
  [
    linked("xfb_inbox_mailbox", "XFBIGDirectMailbox", false, [
      scalar("id"),
      linked("pinned_threads_v2", "XFBIGDirectPinnedThread", true, [
        scalar("id"),
        linked("thread", "XFBIGDirectViewerThread", false, readerThread),
      ]),
      readerConnection,
    ]),
  ],
);

// The next page after a cursor.
const pageArgs = [variable("after"), variable("first"), variable("folder")].sort(byName);
export const InboxPageQuery = request(
  "IGDInboxListPaginationQuery",
  ["after", "first", "folder"],
  [mailboxOf(pageArgs)],
  [linked("xfb_inbox_mailbox", "XFBIGDirectMailbox", false, [scalar("id"), readerConnection])],
);

// Unrelated query the page also keeps retained.
export const ViewerSettingsQuery = request(
  "PolarisViewerSettingsQuery",
  [],
  [linked("viewer_settings", "XFBViewerSettings", false, [scalar("id"), scalar("show_previews")])],
  [linked("viewer_settings", "XFBViewerSettings", false, [scalar("id"), scalar("show_previews")])],
);
