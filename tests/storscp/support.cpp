#include "support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace storscp_test {

using namespace std::chrono_literals;

fs::path ServiceProgram() { return ZYL_STORSCP_PROGRAM; }
fs::path SystemResources() { return ZYL_SOURCE_RESOURCES; }
fs::path SampleFiles() { return ZYL_SAMPLE_FILES; }

std::string ConfigXml(const Settings& s) {
  std::ostringstream x;
  x << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<OrvoConfiguration>\n"
    << "  <QRScuServiceAE>ZYL_AE_QUERY_SCU</QRScuServiceAE>\n"
    << "  <StorScpServiceAE>ZYL_AE_STOR_SCP</StorScpServiceAE>\n"
    << "  <StorScuServiceAE>ZYL_AE_STOR_SCU</StorScuServiceAE>\n"
    << "  <EchoScuServiceAE>ZYL_AE_ECHO_SCU</EchoScuServiceAE>\n";
  auto param = [&](const char* name, const std::optional<std::string>& value) {
    if (value) x << "  <" << name << ">" << *value << "</" << name << ">\n";
  };
  param("FileExtension", s.fileExtension);
  param("StorScpDir", s.storScpDir);
  param("AcceptAny", s.acceptAny);
  param("StorScpCtrlPort", s.storScpCtrlPort);
  x << "  <MaxQueryResponses>100</MaxQueryResponses>\n  <SystemDir/>\n  <ApplicationEntities>\n";
  auto entity = [&](const std::string& name, const std::string& aet, const char* list, const char* type) {
    x << "    <ApplicationEntity Name=\"" << name << "\"><AET>" << aet << "</AET><Hostname>127.0.0.1</Hostname>"
      << "<Port>" << s.port << "</Port><ServiceList>" << list << "</ServiceList><ServiceType>" << type
      << "</ServiceType></ApplicationEntity>\n";
  };
  entity("ZYL_AE_STOR_SCP", s.ownAet, "Storage_SCP_Service_List", "Storage_SCP");
  int n = 0;
  for (const auto& aet : s.knownAets)
    entity("NODE_" + std::to_string(++n), aet, "Storage_SCU_Service_List", "Storage_SCU");
  x << "  </ApplicationEntities>\n  <ServiceLists><L>Storage_SCP_Service_List</L>"
    << "<L>Storage_SCU_Service_List</L></ServiceLists>\n"
    << "  <ServiceTypes><T>Storage_SCP</T><T>Storage_SCU</T></ServiceTypes>\n</OrvoConfiguration>\n";
  return x.str();
}

Settings OnFreePort(std::optional<std::string> acceptAny) {
  Settings settings;
  settings.port = FreePort();
  settings.acceptAny = std::move(acceptAny);
  return settings;
}

Installation::Installation(const Settings& settings) : settings_(settings) {
  fs::create_directories(systemDir());
  for (const auto& entry : fs::directory_iterator(SystemResources()))
    if (entry.is_regular_file() && entry.path().filename() != "orvocfg.xml")
      fs::copy_file(entry.path(), systemDir() / entry.path().filename());
  writeConfig(ConfigXml(settings_));
}

fs::path Installation::storageDir() const {
  const std::string dir = settings_.storScpDir.value_or("");
  if (!dir.empty() && dir.front() == '/') return dir;
  return systemDir() / dir;
}

void Installation::writeConfig(const std::string& xml) const {
  std::ofstream(systemDir() / "orvocfg.xml", std::ios::trunc) << xml;
}

std::string Installation::log() const {
  return zyl::test::ReadText(systemDir() / "storscp1.log") + zyl::test::ReadText(systemDir() / "storscp2.log");
}

ServiceProcess::ServiceProcess(const Installation& installation, std::vector<std::string> extraEnv)
    : port_(installation.settings().port),
      process_({ServiceProgram().string()}, installation.root() / "service.out",
               [&] {
                 std::vector<std::string> env = {"ZYL_DIR=" + installation.root().string(),
                                                 "ZYL_SERVICE_ROOT=" + installation.registry().string()};
                 env.insert(env.end(), extraEnv.begin(), extraEnv.end());
                 return env;
               }(),
               {"ZYL_SERVICE_NAME"}) {}

namespace {
// One dcmdump line without its length column: "(tag) VR value # vm Name".
std::string Normalised(const std::string& line) {
  const auto hash = line.rfind(" #");
  if (hash == std::string::npos) return line;
  std::string head = line.substr(0, hash);
  while (!head.empty() && head.back() == ' ') head.pop_back();
  const auto comma = line.find(',', hash);
  return head + " #" + (comma == std::string::npos ? std::string{} : line.substr(comma + 1));
}

std::string Dump(const fs::path& file, bool meta) {
  const ToolResult r = RunTool({"dcmdump", "-q", "+L", "+M", file.string()});
  std::istringstream in(r.output);
  std::string line, out;
  bool inMeta = false, inData = false;
  while (std::getline(in, line)) {
    if (line.rfind("# Dicom-Meta-Information-Header", 0) == 0) {
      inMeta = true;
      inData = false;
      continue;
    }
    if (line.rfind("# Dicom-Data-Set", 0) == 0) {
      inMeta = false;
      inData = true;
      continue;
    }
    if (line.empty() || line.rfind("# ", 0) == 0) continue;
    // Delimiters depend on the encoding, trailing padding is not sent.
    if (line.find("(fffe,e00d)") != std::string::npos || line.find("(fffe,e0dd)") != std::string::npos ||
        line.find("(fffc,fffc)") != std::string::npos)
      continue;
    const auto trimmed = line.find_first_not_of(' ');
    if (trimmed != std::string::npos && line.size() >= trimmed + 11 && line.compare(trimmed + 5, 6, ",0000)") == 0)
      continue;  // group lengths
    if ((meta && inMeta) || (!meta && inData)) out += Normalised(line) + "\n";
  }
  return out;
}
}  // namespace

std::string DataSetDump(const fs::path& file) { return Dump(file, false); }
std::string MetaDump(const fs::path& file) { return Dump(file, true); }

std::vector<std::string> DepotFiles(const fs::path& storageDir) {
  std::vector<std::string> names = FileNames(storageDir / "depot");
  std::erase_if(names, [](const std::string& name) { return !name.ends_with(".part"); });
  return names;
}

std::size_t OpenDescriptors(pid_t pid) {
  std::size_t count = 0;
  std::error_code ec;
  for (auto it = fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec);
       !ec && it != fs::directory_iterator(); it.increment(ec))
    ++count;
  return count;
}

long ProcessStatus(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(field + ":", 0) == 0) return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
  return -1;
}

std::vector<std::string> FileNames(const fs::path& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec))
    if (!entry.is_directory()) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// ---- Raw peer ----------------------------------------------------------------

namespace {
void Put16(std::string& s, std::uint16_t v) {
  s.push_back(static_cast<char>(v >> 8));
  s.push_back(static_cast<char>(v & 0xFF));
}
void Put32(std::string& s, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) s.push_back(static_cast<char>((v >> shift) & 0xFF));
}
void PutLe16(std::string& s, std::uint16_t v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>(v >> 8));
}
void PutLe32(std::string& s, std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) s.push_back(static_cast<char>((v >> shift) & 0xFF));
}
std::string Item(std::uint8_t type, const std::string& body) {
  std::string s;
  s.push_back(static_cast<char>(type));
  s.push_back(0);
  Put16(s, static_cast<std::uint16_t>(body.size()));
  return s + body;
}
std::string Title(const std::string& t) {
  std::string s = t.substr(0, 16);
  s.resize(16, ' ');
  return s;
}
}  // namespace

std::string UidValue(const std::string& uid) {
  std::string v = uid;
  if (v.size() % 2 != 0) v.push_back('\0');
  return v;
}

std::string Element(std::uint16_t group, std::uint16_t element, const std::string& value) {
  std::string s;
  PutLe16(s, group);
  PutLe16(s, element);
  PutLe32(s, static_cast<std::uint32_t>(value.size()));
  return s + value;
}

std::string ExplicitElement(std::uint16_t group, std::uint16_t element, const std::string& vr,
                            const std::string& value) {
  std::string s;
  PutLe16(s, group);
  PutLe16(s, element);
  s += vr;
  if (vr == "OB" || vr == "OW" || vr == "SQ" || vr == "UN" || vr == "UT") {
    s.append(2, '\0');
    PutLe32(s, static_cast<std::uint32_t>(value.size()));
  } else {
    PutLe16(s, static_cast<std::uint16_t>(value.size()));
  }
  return s + value;
}

std::string ElementUS(std::uint16_t group, std::uint16_t element, std::uint16_t value) {
  std::string v;
  PutLe16(v, value);
  return Element(group, element, v);
}

std::string StoreCommand(const std::string& sopClass, const std::string& sopInstance, std::uint16_t messageId) {
  std::string body = Element(0x0000, 0x0002, UidValue(sopClass)) + ElementUS(0x0000, 0x0100, 0x0001) +
                     ElementUS(0x0000, 0x0110, messageId) + ElementUS(0x0000, 0x0700, 0x0000) +
                     ElementUS(0x0000, 0x0800, 0x0000) + Element(0x0000, 0x1000, UidValue(sopInstance));
  std::string length;
  PutLe32(length, static_cast<std::uint32_t>(body.size()));
  return Element(0x0000, 0x0000, length) + body;
}

std::string SmallDataSet(const std::string& sopInstance, const std::string& patientName, std::size_t pixelBytes) {
  auto text = [](std::string v) {
    if (v.size() % 2 != 0) v.push_back(' ');
    return v;
  };
  std::string pixels(pixelBytes, '\x5A');
  return Element(0x0008, 0x0016, UidValue(kSecondaryCapture)) + Element(0x0008, 0x0018, UidValue(sopInstance)) +
         Element(0x0008, 0x0064, text("WSD")) + Element(0x0010, 0x0010, text(patientName)) +
         Element(0x0010, 0x0020, text("ID1")) + ElementUS(0x0028, 0x0002, 1) +
         Element(0x0028, 0x0004, text("MONOCHROME2")) + ElementUS(0x0028, 0x0010, 1) +
         ElementUS(0x0028, 0x0011, static_cast<std::uint16_t>(pixelBytes)) + ElementUS(0x0028, 0x0100, 8) +
         ElementUS(0x0028, 0x0101, 8) + ElementUS(0x0028, 0x0102, 7) + ElementUS(0x0028, 0x0103, 0) +
         Element(0x7FE0, 0x0010, pixels);
}

std::string Part10File(const std::string& sopClass, const std::string& sopInstance, const std::string& dataSet,
                       const std::string& transferSyntax) {
  const std::string group = ExplicitElement(0x0002, 0x0001, "OB", std::string("\x00\x01", 2)) +
                            ExplicitElement(0x0002, 0x0002, "UI", UidValue(sopClass)) +
                            ExplicitElement(0x0002, 0x0003, "UI", UidValue(sopInstance)) +
                            ExplicitElement(0x0002, 0x0010, "UI", UidValue(transferSyntax)) +
                            ExplicitElement(0x0002, 0x0012, "UI", UidValue("1.2.826.0.1.3680043.10.998.0.1"));
  std::string length;
  PutLe32(length, static_cast<std::uint32_t>(group.size()));
  return std::string(128, '\0') + "DICM" + ExplicitElement(0x0002, 0x0000, "UL", length) + group + dataSet;
}

RawPeer::RawPeer(int port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd_);
    fd_ = -1;
    return;
  }
  const int one = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

RawPeer::~RawPeer() {
  if (fd_ >= 0) ::close(fd_);
}

bool RawPeer::sendRaw(const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

bool RawPeer::readPdu(int& type, std::string& body, int timeoutSeconds) {
  auto readExact = [&](char* dst, std::size_t size) {
    std::size_t got = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (got < size) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) return false;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      const ssize_t n = ::recv(fd_, dst + got, size - got, 0);
      if (n <= 0) return false;
      got += static_cast<std::size_t>(n);
    }
    return true;
  };
  unsigned char header[6];
  if (!readExact(reinterpret_cast<char*>(header), sizeof header)) return false;
  type = header[0];
  const std::uint32_t length =
      (std::uint32_t{header[2]} << 24) | (std::uint32_t{header[3]} << 16) | (std::uint32_t{header[4]} << 8) | header[5];
  if (length > (1u << 24)) return false;
  body.assign(length, '\0');
  return readExact(body.data(), length);
}

std::string AssociateRequest(const std::string& calling, const std::string& called,
                             const std::vector<std::pair<std::string, std::string>>& contexts) {
  std::string items;
  for (std::size_t i = 0; i < contexts.size(); ++i) {
    std::string pc;
    pc.push_back(static_cast<char>(2 * i + 1));
    pc.append(3, '\0');
    items += Item(0x20, pc + Item(0x30, contexts[i].first) + Item(0x40, contexts[i].second));
  }
  std::string maxLength;
  Put32(maxLength, 16384);
  const std::string user = Item(0x51, maxLength) + Item(0x52, "1.2.3.4.5.6.7");
  std::string body;
  Put16(body, 1);
  body.append(2, '\0');
  body += Title(called) + Title(calling);
  body.append(32, '\0');
  body += Item(0x10, "1.2.840.10008.3.1.1.1") + items + Item(0x50, user);
  return Pdu(0x01, body);
}

std::string Pdu(std::uint8_t type, const std::string& body) {
  std::string pdu;
  pdu.push_back(static_cast<char>(type));
  pdu.push_back(0);
  Put32(pdu, static_cast<std::uint32_t>(body.size()));
  return pdu + body;
}

AssociateResult RawPeer::associate(const std::string& calling, const std::string& called, const std::string& sopClass,
                                   const std::string& transferSyntax) {
  return requestAssociation(AssociateRequest(calling, called, {{sopClass, transferSyntax}}));
}

AssociateResult RawPeer::requestAssociation(const std::string& request) {
  AssociateResult result;
  if (!sendRaw(request)) return result;
  int type = 0;
  std::string reply;
  if (!readPdu(type, reply, 20)) return result;
  result.pduType = type;
  if (type == 3 && reply.size() >= 4) {
    result.result = static_cast<unsigned char>(reply[1]);
    result.source = static_cast<unsigned char>(reply[2]);
    result.reason = static_cast<unsigned char>(reply[3]);
  } else if (type == 2) {
    std::size_t pos = 68;
    while (pos + 4 <= reply.size()) {
      const int itemType = static_cast<unsigned char>(reply[pos]);
      const std::size_t itemLength = (static_cast<std::size_t>(static_cast<unsigned char>(reply[pos + 2])) << 8) |
                                     static_cast<unsigned char>(reply[pos + 3]);
      if (itemType == 0x21 && pos + 8 <= reply.size() && reply[pos + 4] == 1)
        result.contextResult = static_cast<unsigned char>(reply[pos + 6]);
      pos += 4 + itemLength;
    }
  }
  return result;
}

bool RawPeer::sendPdv(const std::string& bytes, bool command, bool last) {
  // Fragments that fit any receiver's maximum PDU length.
  constexpr std::size_t kFragment = 16000;
  std::size_t offset = 0;
  do {
    const std::size_t size = std::min(kFragment, bytes.size() - offset);
    const bool final = offset + size == bytes.size();
    std::string pdv;
    Put32(pdv, static_cast<std::uint32_t>(size + 2));
    pdv.push_back(1);
    pdv.push_back(static_cast<char>((command ? 1 : 0) | (last && final ? 2 : 0)));
    pdv.append(bytes, offset, size);
    std::string pdu;
    pdu.push_back(0x04);
    pdu.push_back(0);
    Put32(pdu, static_cast<std::uint32_t>(pdv.size()));
    if (!sendRaw(pdu + pdv)) return false;
    offset += size;
  } while (offset < bytes.size());
  return true;
}

bool RawPeer::sendStore(const std::string& sopInstance, const std::string& dataSet, std::uint16_t messageId,
                        const std::string& commandUid) {
  const std::string uid = commandUid == "\x01" ? sopInstance : commandUid;
  return sendPdv(StoreCommand(kSecondaryCapture, uid, messageId), true, true) && sendPdv(dataSet, false, true);
}

std::optional<std::uint16_t> RawPeer::readStatus(int timeoutSeconds) {
  int type = 0;
  std::string body;
  lastPduType_ = 0;
  std::string command;
  while (true) {
    if (!readPdu(type, body, timeoutSeconds)) return std::nullopt;
    lastPduType_ = type;
    if (type != 4) return std::nullopt;
    bool last = false;
    std::size_t pos = 0;
    while (pos + 6 <= body.size()) {
      const std::uint32_t length = (std::uint32_t{static_cast<unsigned char>(body[pos])} << 24) |
                                   (std::uint32_t{static_cast<unsigned char>(body[pos + 1])} << 16) |
                                   (std::uint32_t{static_cast<unsigned char>(body[pos + 2])} << 8) |
                                   static_cast<unsigned char>(body[pos + 3]);
      const int control = static_cast<unsigned char>(body[pos + 5]);
      if (length < 2 || pos + 4 + length > body.size()) return std::nullopt;
      if ((control & 1) != 0) command.append(body, pos + 6, length - 2);
      last = (control & 3) == 3;
      pos += 4 + length;
    }
    if (last) break;
  }
  // Walk the implicit little endian command for (0000,0900).
  std::size_t pos = 0;
  while (pos + 8 <= command.size()) {
    auto le16 = [&](std::size_t at) {
      return static_cast<std::uint16_t>(static_cast<unsigned char>(command[at]) |
                                        (static_cast<unsigned char>(command[at + 1]) << 8));
    };
    const std::uint16_t group = le16(pos), element = le16(pos + 2);
    const std::uint32_t length = le16(pos + 4) | (std::uint32_t{le16(pos + 6)} << 16);
    if (group == 0x0000 && element == 0x0900 && length == 2 && pos + 10 <= command.size()) return le16(pos + 8);
    pos += 8 + length;
  }
  return std::nullopt;
}

bool RawPeer::release(int timeoutSeconds) {
  std::string pdu = {0x05, 0x00};
  Put32(pdu, 4);
  pdu.append(4, '\0');
  if (!sendRaw(pdu)) return false;
  int type = 0;
  std::string body;
  return readPdu(type, body, timeoutSeconds) && type == 6;
}

void RawPeer::abort() {
  std::string pdu = {0x07, 0x00};
  Put32(pdu, 4);
  pdu.append(4, '\0');
  sendRaw(pdu);
  ::close(fd_);
  fd_ = -1;
}

bool RawPeer::waitClosedByPeer(int timeoutSeconds) {
  // An abort PDU, or the end of the connection, before the time runs out.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  char buffer[4096];
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 200) <= 0) continue;
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) return true;
    if (static_cast<unsigned char>(buffer[0]) == 0x07) {
      lastPduType_ = 7;
      return true;
    }
  }
  return false;
}

}  // namespace storscp_test
