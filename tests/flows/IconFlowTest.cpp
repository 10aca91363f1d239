// The icons the plugin chooses for what the host lists, through
// FsExtractCustomIconW, with an icon source that stands for the resources of
// a build that carries them (the plugin is linked into this program).
#include <map>

#include "platform/KofIcons.h"
#include "tests/flows/VaultFixture.h"

namespace kof::test {
namespace {

// Gives every name a handle of its own and remembers what was asked.
class TRecordingIcons : public TKofIconSource {
 public:
  void* Load(std::string_view name, bool large) override {
    Last = std::string(name) + (large ? " large" : " small");
    return &FHandles[Last];
  }
  std::string Last;

 private:
  std::map<std::string, char> FHandles;
};

class IconFlow : public VaultFlow {
 protected:
  void SetUp() override {
    VaultFlow::SetUp();
    json seed = Seed(false);
    seed["boxes"].push_back({{"id", 8}, {"name", "Mine"}, {"privateBox", true}});
    seed["boxes"].push_back({{"id", 9}, {"name", "Board"}, {"type", "SAFEBOX_GROUP"}, {"privateBox", true}});
    StartVaultWith(seed, "Display Help Folder=ON\r\n");
    ASSERT_TRUE(Enter()) << AskedSoFar();
  }

  // The icon the host would draw for PATH: the loaded name and size, or "default".
  std::string Icon(const std::string& path, int flags = wfx::FS_ICONFLAG_SMALL) {
    FIcons.Last.clear();
    const int result = FPlugin.Icon(path, flags);
    if (result == wfx::FS_ICON_USEDEFAULT) return "default";
    EXPECT_EQ(result, wfx::FS_ICON_EXTRACTED) << path;
    return FIcons.Last;
  }

  TRecordingIcons FIcons;
};

TEST_F(IconFlow, EachEntryGetsTheIconOfItsKind) {
  TKofIconSourceOverride useIcons(FIcons);
  const std::string accessories = "/Demo/" + kAccessories;
  const struct {
    const char* Listed;  // the folder the host lists before asking
    std::string Path;
    int Flags;
    const char* Icon;
  } cases[] = {
      // The plugin's own entries, whatever the size asked.
      {"/", "/", wfx::FS_ICONFLAG_SMALL, "LOG_Icon small"},
      {"/", "/" + kHelp, 0, "Help_Icon large"},
      {"/", "/Demo.<KOF>", wfx::FS_ICONFLAG_SMALL, "1KOF_Icon small"},
      {"/Demo", "/Demo/" + kLogout, wfx::FS_ICONFLAG_SMALL, "LOG_Icon small"},
      {"/Demo", accessories, 0, "1KOF_Icon large"},
      {accessories.c_str(), accessories + "/" + kHelp, wfx::FS_ICONFLAG_SMALL, "Help_Icon small"},
      {accessories.c_str(), accessories + "/__  Enhanced Client Encryption is DISABLED  __", wfx::FS_ICONFLAG_SMALL,
       "NaCl_Icon small"},
      {"/Demo/" "!!__Bin_Deleted__!!", "/Demo/" + kBin + "/Archive", wfx::FS_ICONFLAG_SMALL, "TRASH_Icon small"},
      // Boxes and groups at the session root by their type; only small icons.
      {"/Demo", "/Demo/Company", wfx::FS_ICONFLAG_SMALL, "GBOX_Icon small"},
      {"/Demo", "/Demo/Board", wfx::FS_ICONFLAG_SMALL, "GPRV_Icon small"},
      {"/Demo", "/Demo/Personal", wfx::FS_ICONFLAG_SMALL, "SBOX_Icon small"},
      {"/Demo", "/Demo/Mine", wfx::FS_ICONFLAG_SMALL, "SPRV_Icon small"},
      {"/Demo", "/Demo/Mine", 0, "default"},
      {"/Demo", "/Demo/Mine", wfx::FS_ICONFLAG_SMALL | wfx::FS_ICONFLAG_BACKGROUND, "default"},
      {"/Demo", "/Demo/..", wfx::FS_ICONFLAG_SMALL, "default"},
      // In a group every entry is a safe box.
      {"/Demo/Company", "/Demo/Company/Servers", wfx::FS_ICONFLAG_SMALL, "SBOX_Icon small"},
      {"/Demo/Company", "/Demo/Company/Finance", wfx::FS_ICONFLAG_SMALL, "SBOX_Icon small"},
      // In a safe box the password records have icons; files keep the host's by extension.
      {"/Demo/Company/Servers", "/Demo/Company/Servers/db01 root.account", wfx::FS_ICONFLAG_SMALL, "ACC_Icon small"},
      {"/Demo/Company/Servers", "/Demo/Company/Servers/Domain admin.secretaccount", wfx::FS_ICONFLAG_SMALL,
       "SEC_Icon small"},
      {"/Demo/Company/Servers", "/Demo/Company/Servers/Visa.creditcard", wfx::FS_ICONFLAG_SMALL, "CRED_Icon small"},
      {"/Demo/Company/Servers", "/Demo/Company/Servers/VPN certificate.pfx", wfx::FS_ICONFLAG_SMALL, "CERT_Icon small"},
      {"/Demo/Company/Servers", "/Demo/Company/Servers/Release notes.txt", wfx::FS_ICONFLAG_SMALL, "default"},
      {"/Demo/Company/Servers", "/Demo/Company/Servers/db01 root.account", 0, "default"},
      // A folder other than the one listed is not read for an icon.
      {"/Demo/Company/Servers", "/Demo/Personal/Mail.account", wfx::FS_ICONFLAG_SMALL, "default"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Path + " flags " + std::to_string(c.Flags));
    FPlugin.List(c.Listed);
    EXPECT_EQ(Icon(c.Path, c.Flags), c.Icon);
  }
  EXPECT_EQ(CountAsked(IsAccessCodePrompt), 0) << "an icon asks nothing";
}

TEST_F(IconFlow, WithoutIconResourcesTheHostDrawsItsOwn) {
  FPlugin.List("/Demo/Company/Servers");
  for (const std::string& path : {std::string("/Demo/Company/Servers/db01 root.account"), "/Demo/" + kLogout, std::string("/")})
    EXPECT_EQ(Icon(path), "default") << path;
}

}  // namespace
}  // namespace kof::test
