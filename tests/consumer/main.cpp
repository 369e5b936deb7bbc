// Submits a two-field form to the URL given and prints the reply.
#include <vizadavu/vizADAVU.h>

#include <cstdio>
#include <iostream>
#include <string>

namespace {

struct Host : vizadavu::vizADAVUEvents {
  bool ended = false;
  void Status(vizadavu::Long code, const vizadavu::Text&) override {
    std::cerr << "Status " << code << "\n";
  }
  void EndTransfer() override { ended = true; }
  void Error(const vizadavu::Text& message) override {
    std::cerr << "Error " << vizadavu::TextToUtf8(message) << "\n";
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--encode") {  // no network
    std::cout << vizadavu::TextToUtf8(
        vizadavu::vizADAVU().URLEncode(vizadavu::Utf8ToText(argv[2])));
    return 0;
  }
  if (argc != 2) {
    std::cerr << "usage: consumer URL | consumer --encode TEXT\n";
    return 64;
  }
  Host host;
  vizadavu::vizADAVU form(&host);
  form.FormVarCount(2);
  form.FormVarNames(1, u"a");
  form.FormVarValues(1, u"1");
  form.FormVarNames(2, u"b");
  form.FormVarValues(2, u"x y");
  form.Secure_Mode_Off = true;
  form.URL(vizadavu::Utf8ToText(argv[1]));
  form.Action(1);
  std::cout << vizadavu::TextToAnsi(form.ReceiveBuffer());
  form.Clear();
  return host.ended ? 0 : 1;
}
