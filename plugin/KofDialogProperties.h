#pragma once
// Alt+Enter on a record, a safe box or a group of a panel: its properties
// dialog, and the update of the server when the user changed something.
#include <cstdint>

#include "client/KofClients.h"
#include "dialogs/KofSessionDialogs.h"
#include "model/KofConsts.h"

namespace kof {

class TCommonKofPlugin;

struct TPropertiesContext {
  TCommonKofPlugin& Plugin;  // prompts and clipboard
  TKofClient& Client;
  bool EditableRecords;  // the session's choice
  bool Modifiable;       // the user's right on the box that holds the object
  bool ClipCopyMessage;  // the session wants to hear when a copied secret is cleared
  std::int32_t BoxId = 0;  // the safe box that holds a record, whose tags it may take
};

// Both run under the plugin lock; the caller asked for the access code.
void EditRecordProperties(const TPropertiesContext& context, std::int32_t id);
void EditBoxProperties(const TPropertiesContext& context, std::int32_t id);

// The session configuration dialog's part of the plugin: the address test,
// its messages and the version shown.
TSessionConfigOptions SessionDialogOptions(TCommonKofPlugin& plugin);
TSessionConfigValues SessionValues(const TKofSession& session);
// Everything but the name, which the caller sets (a rename is the store's business).
void ApplySessionValues(TKofSession& session, const TSessionConfigValues& values);

}  // namespace kof
