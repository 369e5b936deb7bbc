// The canned handlers of the loopback servers, and the form decoding FormEcho uses.
#include <string>

#include "tools/loopback/LoopbackServer.h"
#include "tools/loopback/RequestParser.h"
#include "vizadavu/vizADAVU.h"

namespace vizadavu::loopback {
namespace {

const char* ReasonPhrase(int status) {
  static const std::pair<int, const char*> kPhrases[] = {
      {100, "Continue"},
      {200, "OK"},
      {201, "Created"},
      {202, "Accepted"},
      {204, "No Content"},
      {301, "Moved Permanently"},
      {302, "Found"},
      {303, "See Other"},
      {304, "Not Modified"},
      {307, "Temporary Redirect"},
      {308, "Permanent Redirect"},
      {400, "Bad Request"},
      {401, "Unauthorized"},
      {403, "Forbidden"},
      {404, "Not Found"},
      {405, "Method Not Allowed"},
      {407, "Proxy Authentication Required"},
      {408, "Request Timeout"},
      {413, "Content Too Large"},
      {500, "Internal Server Error"},
      {501, "Not Implemented"},
      {502, "Bad Gateway"},
      {503, "Service Unavailable"},
      {504, "Gateway Timeout"},
  };
  for (const auto& [code, phrase] : kPhrases) {
    if (code == status) return phrase;
  }
  return "Status";
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string DecodeComponent(std::string_view text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      bytes.push_back(' ');
    } else if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
               HexValue(text[i + 2]) >= 0) {
      bytes.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
      i += 2;
    } else {
      bytes.push_back(text[i]);
    }
  }
  return bytes;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> DecodeFormBytes(std::string_view body) {
  std::vector<std::pair<std::string, std::string>> fields;
  while (!body.empty()) {
    const std::size_t amp = body.find('&');
    const std::string_view pair = body.substr(0, amp);
    const std::size_t eq = pair.find('=');
    fields.emplace_back(DecodeComponent(pair.substr(0, eq)),
                        eq == std::string_view::npos ? "" : DecodeComponent(pair.substr(eq + 1)));
    if (amp == std::string_view::npos) break;
    body.remove_prefix(amp + 1);
  }
  return fields;
}

std::vector<std::pair<std::string, std::string>> DecodeForm(std::string_view body) {
  auto fields = DecodeFormBytes(body);
  for (auto& [name, value] : fields) {
    name = TextToUtf8(AnsiToText(name));
    value = TextToUtf8(AnsiToText(value));
  }
  return fields;
}

Handler LoopbackServer::Reply(std::string rawReply) {
  return [reply = std::move(rawReply)](Connection& connection) {
    ReceivedRequest request;
    if (connection.ReadRequest(request)) connection.Write(reply);
    connection.Close();
  };
}

Handler LoopbackServer::Respond(int status, std::string body,
                                std::vector<std::pair<std::string, std::string>> headers) {
  std::string reply = "HTTP/1.0 " + std::to_string(status) + " " + ReasonPhrase(status) + "\r\n";
  bool framed = false;  // the caller chose the framing (possibly a wrong one, on purpose)
  for (const auto& [name, value] : headers) {
    reply += name + ": " + value + "\r\n";
    framed = framed || EqualsIgnoreCase(name, "Content-Length") ||
             EqualsIgnoreCase(name, "Transfer-Encoding");
  }
  // 1xx, 204 and 304 responses carry no body, so they get no Content-Length either.
  bool bodiless = status / 100 == 1 || status == 204 || status == 304;
  if (!framed && !bodiless) reply += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  reply += "\r\n";
  reply += body;
  return Reply(std::move(reply));
}

Handler LoopbackServer::Echo() {
  return [](Connection& connection) {
    ReceivedRequest request;
    if (connection.ReadRequest(request)) {
      connection.Write("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(request.raw.size()) +
                       "\r\n\r\n" + request.raw);
    }
    connection.Close();
  };
}

Handler LoopbackServer::FormEcho() {
  return [](Connection& connection) {
    ReceivedRequest request;
    if (connection.ReadRequest(request)) {
      std::string text;
      for (const auto& [name, value] : DecodeForm(request.body)) {
        text += name + " = " + value + "\n";
      }
      connection.Write(
          "HTTP/1.0 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
          std::to_string(text.size()) + "\r\n\r\n" + text);
    }
    connection.Close();
  };
}

}  // namespace vizadavu::loopback
