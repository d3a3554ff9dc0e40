// Messages, files and items: creating, converting and freeing them.
#include "access.h"
#include "pixels.h"
#include "net/net.h"
#include "settings.h"
#include "tables.h"

#include <cstring>

using namespace zyl::toolkit;

namespace {

MC_STATUS newMessage(int* id, bool isFile, const char* fileName, const char* serviceName, MC_COMMAND command) {
  requireInitialized();
  if (!id) return MC_NULL_POINTER_PARM;
  auto root = std::make_shared<Root>();
  root->fileFormat = std::make_unique<DcmFileFormat>();
  root->isFile = isFile;
  root->fileName = fileName ? fileName : "";
  root->serviceName = serviceName ? serviceName : "";
  root->command = command;
  auto added = IdTable::instance().add({IdKind::Message, root, nullptr, {}});
  if (!added) return MC_NO_FREE_ID;
  *id = *added;
  return MC_NORMAL_COMPLETION;
}

MC_STATUS checkService(const char* serviceName, MC_COMMAND command) {
  if (!serviceName) return MC_NULL_POINTER_PARM;
  if (!findServiceByName(serviceName)) return MC_INVALID_SERVICE_NAME;
  return net::isKnownCommand(command) ? MC_NORMAL_COMPLETION : MC_INVALID_COMMAND;
}

// Frees a message or file: its items' ids go with it.
MC_STATUS freeMessage(int id, bool fileExpected) {
  requireInitialized();
  auto entry = IdTable::instance().find(id);
  if (!entry || entry->kind != IdKind::Message) return fileExpected ? MC_INVALID_FILE_ID : MC_INVALID_MESSAGE_ID;
  {
    std::lock_guard lock(entry->root->mutex);
    for (const auto& [item, itemId] : entry->root->itemIds) IdTable::instance().remove(itemId);
    entry->root->itemIds.clear();
    entry->root->states.clear();
    entry->root->fileFormat.reset();
  }
  IdTable::instance().remove(id);
  return MC_NORMAL_COMPLETION;
}

}  // namespace

extern "C" {

MC_STATUS MC_Open_Empty_Message(int* messageId) {
  return guarded([&] { return newMessage(messageId, false, nullptr, nullptr, MC_CMD_NONE); });
}

MC_STATUS MC_Open_Message(int* messageId, const char* serviceName, MC_COMMAND command) {
  return guarded([&] {
    requireInitialized();
    if (MC_STATUS s = checkService(serviceName, command); s != MC_NORMAL_COMPLETION) return s;
    return newMessage(messageId, false, nullptr, serviceName, command);
  });
}

MC_STATUS MC_Set_Service_Command(int messageId, const char* serviceName, MC_COMMAND command) {
  return guarded([&] {
    Target target = Target::open(messageId, true);
    if (MC_STATUS s = checkService(serviceName, command); s != MC_NORMAL_COMPLETION) return s;
    target.root().serviceName = serviceName;
    target.root().command = command;
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_Get_Service_Command(int messageId, char* serviceName, int bufferSize, MC_COMMAND* command) {
  return guarded([&] {
    Target target = Target::open(messageId, true);
    if (!serviceName || !command) return MC_NULL_POINTER_PARM;
    const std::string& name = target.root().serviceName;
    if (bufferSize <= 0 || name.size() + 1 > static_cast<std::size_t>(bufferSize)) return MC_BUFFER_TOO_SMALL;
    std::memcpy(serviceName, name.c_str(), name.size() + 1);
    *command = target.root().command;
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_Free_Message(int messageId) {
  return guarded([&] { return freeMessage(messageId, false); });
}

MC_STATUS MC_Create_File(int* fileId, const char* fileName, const char* serviceName, MC_COMMAND command) {
  return guarded([&] {
    requireInitialized();
    if (!fileName) return MC_NULL_POINTER_PARM;
    if (MC_STATUS s = checkService(serviceName, command); s != MC_NORMAL_COMPLETION) return s;
    return newMessage(fileId, true, fileName, serviceName, command);
  });
}

MC_STATUS MC_Create_Empty_File(int* fileId, const char* fileName) {
  return guarded([&] {
    if (!fileName) return MC_NULL_POINTER_PARM;
    return newMessage(fileId, true, fileName, nullptr, MC_CMD_NONE);
  });
}

MC_STATUS MC_Free_File(int fileId) {
  return guarded([&] { return freeMessage(fileId, true); });
}

MC_STATUS MC_Reset_Filename(int fileId, const char* fileName) {
  return guarded([&] {
    Target target = Target::open(fileId, true);
    if (!fileName) return MC_NULL_POINTER_PARM;
    if (!target.root().isFile) return MC_INVALID_FILE_ID;
    target.root().fileName = fileName;
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_Get_Filename(int fileId, char* fileName, int bufferSize) {
  return guarded([&] {
    Target target = Target::open(fileId, true);
    if (!fileName) return MC_NULL_POINTER_PARM;
    if (!target.root().isFile) return MC_INVALID_FILE_ID;
    const std::string& name = target.root().fileName;
    if (bufferSize <= 0 || name.size() + 1 > static_cast<std::size_t>(bufferSize)) return MC_BUFFER_TOO_SMALL;
    std::memcpy(fileName, name.c_str(), name.size() + 1);
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_Message_To_File(int messageId, const char* fileName) {
  return guarded([&] {
    Target target = Target::open(messageId, true);
    if (!fileName) return MC_NULL_POINTER_PARM;
    target.root().isFile = true;
    target.root().fileName = fileName;
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_File_To_Message(int fileId) {
  return guarded([&] {
    Target target = Target::open(fileId, true);
    if (!target.root().isFile) return MC_INVALID_FILE_ID;
    // The meta group stays readable; a message never sends it.
    target.root().isFile = false;
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_Open_Item(int* itemId, const char* itemName) {
  return guarded([&] {
    requireInitialized();
    (void)itemName;  // item names are informational only
    if (!itemId) return MC_NULL_POINTER_PARM;
    auto root = std::make_shared<Root>();
    root->standaloneItem = std::make_unique<DcmItem>();
    DcmItem* item = root->standaloneItem.get();
    std::lock_guard lock(root->mutex);
    auto added = IdTable::instance().add({IdKind::Item, root, item, {}});
    if (!added) return MC_NO_FREE_ID;
    root->itemIds[item] = *added;
    *itemId = *added;
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_Check_Item_Owner(int messageId, int itemId) {
  return guarded([&] {
    requireInitialized();
    const auto message = IdTable::instance().find(messageId);
    if (!message || message->kind != IdKind::Message || !message->root) return MC_INVALID_MESSAGE_ID;
    const auto item = IdTable::instance().find(itemId);
    if (!item || item->kind != IdKind::Item || item->root != message->root) return MC_INVALID_ITEM_ID;
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_Free_Item(int itemId) {
  return guarded([&] {
    auto entry = IdTable::instance().find(itemId);
    if (!entry || entry->kind != IdKind::Item) return MC_INVALID_ITEM_ID;
    Target target = Target::open(itemId);
    Root& root = target.root();
    DcmItem* item = &target.item();
    if (root.standaloneItem.get() == item) {
      forgetItemsUnder(root, item);
      root.standaloneItem.reset();
      return MC_NORMAL_COMPLETION;
    }
    // An item inside a sequence leaves it.
    auto* sequence = dynamic_cast<DcmSequenceOfItems*>(item->getParent());
    if (!sequence) return MC_INVALID_ITEM_ID;
    forgetItemsUnder(root, item);
    std::unique_ptr<DcmItem> removed(sequence->remove(item));
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_Get_Message_Transfer_Syntax(int messageId, MC_TRANSFER_SYNTAX* syntax) {
  return guarded([&] {
    Target target = Target::open(messageId, true);
    if (!syntax) return MC_NULL_POINTER_PARM;
    auto number = tables::syntaxFromDcmtk(target.root().transferSyntax);
    if (!number) return MC_INVALID_TRANSFER_SYNTAX;
    *syntax = *number;
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_Set_Message_Transfer_Syntax(int messageId, MC_TRANSFER_SYNTAX syntax) {
  return guarded([&] {
    auto xfer = tables::dcmtkFromSyntax(syntax);
    {
      Target target = Target::open(messageId, true);
      if (!xfer) return MC_INVALID_TRANSFER_SYNTAX;
    }
    // Between uncompressed syntaxes DCMTK re-encodes at write time; pixel
    // data goes through the registered codecs to or from encapsulated form.
    pixels::convertPixelData(messageId, *xfer);
    Target target = Target::open(messageId, true);
    target.root().transferSyntax = *xfer;
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_Register_Compression_Callbacks(int messageId, MC_Compression_Callback compressor,
                                            MC_Compression_Callback decompressor) {
  return guarded([&] {
    Target target = Target::open(messageId, true);
    if (!compressor && !decompressor) return MC_NULL_POINTER_PARM;
    target.root().compressor = compressor;
    target.root().decompressor = decompressor;
    return MC_NORMAL_COMPLETION;
  });
}

}  // extern "C"
