#include "tool/console_site.h"

#include "tool/console_page.h"
#include "tool/control_document.h"

#include <algorithm>
#include <array>
#include <random>

namespace kestrova::tool {

namespace {

const std::array<const char*, 5> kActions = {"restore", "pause", "continue", "step", "delete_job"};

HttpReply json(int status, const std::string& body) { return {status, "application/json; charset=utf-8", body}; }

HttpReply refusal(int status, const std::string& why) {
    return json(status, "{\"ok\": false, \"message\": " + jsonString(why) + "}\n");
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool decodeFormText(const std::string& text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%') {
            if (i + 2 >= text.size()) return false;
            const int high = hexValue(text[i + 1]);
            const int low = hexValue(text[i + 2]);
            if (high < 0 || low < 0) return false;
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return true;
}

// Equal in time independent of where they differ: the token is a secret.
bool sameSecret(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

}  // namespace

std::string newConsoleToken() {
    std::random_device source;
    std::string out;
    static const char* const digits = "0123456789abcdef";
    for (int i = 0; i < 8; ++i) {
        const unsigned value = source();
        for (int nibble = 0; nibble < 4; ++nibble) out += digits[(value >> (nibble * 4)) & 0xF];
    }
    return out;
}

bool readFormFields(const std::string& body, std::map<std::string, std::string>& out) {
    out.clear();
    if (body.empty()) return true;
    std::size_t at = 0;
    while (at <= body.size()) {
        std::size_t end = body.find('&', at);
        if (end == std::string::npos) end = body.size();
        const std::string field = body.substr(at, end - at);
        const std::size_t equals = field.find('=');
        if (equals == std::string::npos) return false;
        std::string name;
        std::string value;
        if (!decodeFormText(field.substr(0, equals), name) || !decodeFormText(field.substr(equals + 1), value)) {
            return false;
        }
        out[name] = value;
        at = end + 1;
    }
    return true;
}

ConsoleSite::ConsoleSite(MachineDirectory& directory, std::string token, std::vector<std::string> hosts)
    : directory_(directory), token_(std::move(token)), hosts_(std::move(hosts)) {}

void ConsoleSite::look() {
    std::vector<MachineReport> reports;
    std::string error;
    std::string snapshot;
    if (lookAtMachines(directory_, reports, error)) {
        std::lock_guard<std::mutex> hold(lock_);
        snapshot_ = "{\"machines\": " + statusJson(reports, &progress_) + ", \"error\": null}\n";
        reports_ = std::move(reports);
    } else {
        std::lock_guard<std::mutex> hold(lock_);
        snapshot_ = "{\"machines\": [], \"error\": " + jsonString(error) + "}\n";
        reports_.clear();
    }
}

HttpReply ConsoleSite::answer(const HttpRequest& request) {
    // Another name for this address (a DNS name that a foreign page points
    // here) would make that page same-origin with the console.
    if (std::find(hosts_.begin(), hosts_.end(), request.host) == hosts_.end()) {
        return refusal(403, "refused: the request's Host '" + request.host + "' is not this console's address");
    }
    if (!request.origin.empty() && request.origin != "http://" + request.host) {
        return refusal(403, "refused: the request comes from another site (" + request.origin + ")");
    }
    const std::string path = request.target.substr(0, request.target.find('?'));
    if (request.method == "GET" && path == "/") return {200, "text/html; charset=utf-8", consolePage(token_)};
    if (request.method == "GET" && path == "/console.js") {
        return {200, "text/javascript; charset=utf-8", consoleScript()};
    }
    if (path == "/api/machines" || path == "/api/action") {
        if (!sameSecret(request.token, token_)) {
            return refusal(403, "refused: the request does not carry this console's token (reload the page)");
        }
        if (path == "/api/machines" && request.method == "GET") {
            std::lock_guard<std::mutex> hold(lock_);
            return json(200, snapshot_);
        }
        if (path == "/api/action" && request.method == "POST") return act(request);
        return refusal(405, "method " + request.method + " not allowed on " + path);
    }
    return refusal(404, "no such page: " + path);
}

HttpReply ConsoleSite::act(const HttpRequest& request) {
    std::map<std::string, std::string> fields;
    if (!readFormFields(request.body, fields)) return refusal(400, "the action is not a well-formed form");
    const std::string machine = fields["machine"];
    const std::string command = fields["command"];
    if (std::find(kActions.begin(), kActions.end(), command) == kActions.end()) {
        return refusal(400, "unknown action '" + command + "'");
    }
    std::vector<MachineEntry> entries;
    std::string error;
    if (!directory_.list(entries, error)) return refusal(502, error);
    const auto entry = std::find_if(entries.begin(), entries.end(), [&](const MachineEntry& e) { return e.name == machine; });
    if (entry == entries.end()) return refusal(404, "no machine named '" + machine + "'");

    ControlReply reply;
    if (command == "delete_job") {
        // The page named a job when it asked; only that job goes.
        if (!directory_.send(*entry, controlRequestText("get_info"), reply, error)) return refusal(502, error);
        const ResultValues now = readResultDocument(reply.document);
        const std::string running = now.jobId && now.toProduce.value_or(0) > 0 ? std::to_string(*now.jobId) : "";
        if (running.empty() || running != fields["job"]) {
            return refusal(409, "not deleted: " + machine + " now runs " +
                                    (running.empty() ? std::string("no job") : "job " + running) + ", not job " +
                                    fields["job"]);
        }
    }
    if (!directory_.send(*entry, controlRequestText(command), reply, error)) return refusal(502, error);
    lookAsked_ = true;
    const ResultValues result = readResultDocument(reply.document);
    const std::int32_t sw = result.swErrorCode.value_or(0);
    if (!reply.ok || !result.hasResult) {
        return refusal(502, command + " to " + machine + ": the monitor answered FALSE, error " +
                                std::to_string(reply.lastError));
    }
    std::string message = command + " sent to " + machine + ": sw_error_code " + std::to_string(sw) + " (" +
                          describeErrorCode(sw) + ")";
    return json(200, "{\"ok\": " + std::string(sw == 0 ? "true" : "false") + ", \"message\": " + jsonString(message) +
                         ", \"sw_error_code\": " + std::to_string(sw) + "}\n");
}

}  // namespace kestrova::tool
