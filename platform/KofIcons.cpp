#include "platform/KofIcons.h"

#include <atomic>

namespace kof {
namespace {

class TResourceIcons : public TKofIconSource {
 public:
  void* Load(std::string_view name, bool large) override { return LoadResourceIcon(name, large); }
};

TResourceIcons gResourceIcons;
std::atomic<TKofIconSource*> gIconSource{&gResourceIcons};

}  // namespace

TKofIconSource& IconSource() { return *gIconSource.load(); }

TKofIconSourceOverride::TKofIconSourceOverride(TKofIconSource& source) : FPrevious(gIconSource.exchange(&source)) {}
TKofIconSourceOverride::~TKofIconSourceOverride() { gIconSource.store(FPrevious); }

}  // namespace kof
