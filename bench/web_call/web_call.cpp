// Round trip of asynchronous script calls in a web view that no window
// shows: a trivial call, and a call returning 3000 small objects (about the
// size of an inbox snapshot). For comparison, the same 3000 objects handed
// back by WebKit as a JSCValue graph and converted natively, which is what
// the engine avoids by returning JSON text.
#include <benchmark/benchmark.h>
#include <gtk/gtk.h>

#include <filesystem>

#include "platform/linux/glib/glib_loop.h"
#include "platform/linux/web/webkit_engine.h"

using namespace corvid;
using namespace corvid::linux_platform;

namespace {

WebKitView* gView = nullptr;

const char* kObjects =
    "return Array.from({length: 3000}, (_, i) => ({id: 'm' + i, ts: 1700000000000 + i,"
    " text: 'hello ' + i, unread: i % 2 == 0}));";

void Call(benchmark::State& state, const char* body) {
  for (auto _ : state) {
    auto r = runOnMainLoop(gView->callAsyncJavaScript(body, Json{{"limit", 3000}, {"flag", true}}));
    if (r.failed()) state.SkipWithError(r.error->c_str());
    benchmark::DoNotOptimize(r);
  }
}

void BM_TrivialCall(benchmark::State& state) { Call(state, "return 1;"); }
void BM_ThreeThousandObjects(benchmark::State& state) { Call(state, kObjects); }

// The same objects through WebKit's own value conversion.
void BM_ThreeThousandObjectsAsJSCValue(benchmark::State& state) {
  for (auto _ : state) {
    bool done = false;
    std::string json;
    webkit_web_view_call_async_javascript_function(
        gView->webKitView(), kObjects, -1, nullptr, nullptr, nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
          auto* out = static_cast<std::pair<bool*, std::string*>*>(data);
          JSCValue* v = webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, nullptr);
          if (v) {
            char* text = jsc_value_to_json(v, 0);
            *out->second = text ? text : "";
            g_free(text);
            g_object_unref(v);
          }
          *out->first = true;
          delete out;
        },
        new std::pair<bool*, std::string*>(&done, &json));
    while (!done) g_main_context_iteration(nullptr, TRUE);
    benchmark::DoNotOptimize(Json::parse(json));
  }
}

BENCHMARK(BM_TrivialCall)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ThreeThousandObjects)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ThreeThousandObjectsAsJSCValue)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  if (!gtk_init_check(&argc, &argv)) return 2;
  benchmark::Initialize(&argc, argv);
  char* dir = g_dir_make_tmp("corvid-bench-XXXXXX", nullptr);
  std::string root = dir;
  g_free(dir);
  {
    WebKitEngine engine({root + "/data", root + "/cache"});
    auto view = engine.createWebKitView({}, 420, 800);
    bool loaded = false;
    g_signal_connect(view->webKitView(), "load-changed",
                     G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent e, gpointer d) {
                       if (e == WEBKIT_LOAD_FINISHED) *static_cast<bool*>(d) = true;
                     }),
                     &loaded);
    view->loadHTML("<!doctype html><p>bench</p>", std::string("http://127.0.0.1/"));
    while (!loaded) g_main_context_iteration(nullptr, TRUE);
    gView = view.get();
    benchmark::RunSpecifiedBenchmarks();
    gView = nullptr;
  }
  std::filesystem::remove_all(root);
  benchmark::Shutdown();
  return 0;
}
