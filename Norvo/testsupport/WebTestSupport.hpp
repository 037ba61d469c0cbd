#pragma once
#include <optional>
#include <string>

#include <webkit/webkit.h>

#include "TestSupport.hpp"

namespace norvo::testing {

// Evaluates a script in the page and returns its value as text ("" on error).
inline std::string evaluate(WebKitWebView* view, const std::string& script) {
    std::optional<std::string> result;
    webkit_web_view_evaluate_javascript(
        view, script.c_str(), -1, nullptr, nullptr, nullptr,
        +[](GObject* source, GAsyncResult* r, gpointer data) {
            auto* out = static_cast<std::optional<std::string>*>(data);
            GError* error = nullptr;
            JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), r, &error);
            if (value) {
                char* text = jsc_value_to_string(value);
                *out = text ? text : "";
                g_free(text);
                g_object_unref(value);
            } else {
                *out = "";
                if (error) g_error_free(error);
            }
        },
        &result);
    runUntil([&] { return result.has_value(); });
    return result.value_or("");
}

}  // namespace norvo::testing
