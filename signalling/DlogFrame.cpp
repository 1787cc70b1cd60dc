#include "signalling/DlogFrame.h"

#include <cstdarg>
#include <cstdio>

namespace ISDN {

namespace {

// Appends to the caller's buffer and silently drops what does not fit.
class Text {
 public:
  explicit Text(char* out) : out_(out) { out_[0] = 0; }
  void printf(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
    if (len_ >= kLogBufSize - 1) return;
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(out_ + len_, kLogBufSize - len_, fmt, ap);
    va_end(ap);
    if (n < 0) return;
    len_ += unsigned(n);
    if (len_ > kLogBufSize - 1) len_ = kLogBufSize - 1;
  }
  void put(char c) {
    if (len_ >= kLogBufSize - 1) return;
    out_[len_++] = c;
    out_[len_] = 0;
  }
  void puts(const char* s) {
    while (*s) put(*s++);
  }
  // `count` bits of the octet from bit `high` (8 = most significant) down.
  void bits(unsigned char octet, unsigned high, unsigned count) {
    for (unsigned b = high; count && b >= 1; --b, --count) put(octet >> (b - 1) & 1 ? '1' : '0');
  }

 private:
  char* out_;
  unsigned len_ = 0;
};

// The octets of one element (identifier first), cut at the frame's end.
struct View {
  const unsigned char* p;
  unsigned n;
  bool has(unsigned i) const { return i < n; }
  unsigned char operator[](unsigned i) const { return i < n ? p[i] : 0; }
};

struct Named {
  unsigned code;
  const char* name;
};

const Named kMessageTypes[] = {
    {0x01, "ALERTING"},          {0x02, "CALL PROCEEDING"},      {0x07, "CONNECT"},
    {0x0F, "CONNECT ACKNOWLEDGE"}, {0x03, "PROGRESS"},           {0x05, "SETUP"},
    {0x0D, "SETUP ACKNOWLEDGE"}, {0x24, "HOLD"},                 {0x28, "HOLD ACKNOWLEDGE"},
    {0x30, "HOLD REJECT"},       {0x31, "RETRIEVE"},             {0x33, "RETRIEVE ACKNOWLEDGE"},
    {0x37, "RETRIEVE REJECT"},   {0x26, "RESUME"},               {0x2E, "RESUME ACKNOWLEDGE"},
    {0x22, "RESUME REJECT"},     {0x25, "SUSPEND"},              {0x2D, "SUSPEND ACKNOWLEDGE"},
    {0x21, "SUSPEND REJECT"},    {0x20, "USER INFORMATION"},     {0x45, "DISCONNECT"},
    {0x4D, "RELEASE"},           {0x5A, "RELEASE COMPLETE"},     {0x46, "RESTART"},
    {0x4E, "RESTART ACKNOWLEDGE"}, {0x60, "SEGMENT"},            {0x79, "CONGESTION CONTROL"},
    {0x7B, "INFORMATION"},       {0x62, "FACILITY"},             {0x6E, "NOTIFY"},
    {0x7D, "STATUS"},            {0x75, "STATUS ENQUIRY"},
};

const Named kCauses[] = {
    {0x01, "Unallocated (unassigned) number"},
    {0x02, "No route to specified transit network"},
    {0x03, "No route to destination"},
    {0x04, "Send special information tone"},
    {0x05, "Misdialled trunk prefix"},
    {0x06, "Channel unacceptable"},
    {0x07, "Channel awarded and being delivered in an established channel"},
    {0x08, "Preemption"},
    {0x09, "Preemption - circuit reserved for reuse"},
    {0x10, "Normal call clearing"},
    {0x11, "User busy"},
    {0x12, "No user responding"},
    {0x13, "No answer from user (user alerted)"},
    {0x14, "Subscriber absent"},
    {0x15, "Call rejected"},
    {0x16, "Number changed"},
    {0x1A, "non-selected user clearing"},
    {0x1B, "Destination out of order"},
    {0x1C, "Invalid number format (address incomplete)"},
    {0x1D, "Facility rejected"},
    {0x1E, "Response to Status enquiry"},
    {0x1F, "Normal, unspecified"},
    {0x22, "No circuit/channel available"},
    {0x26, "Network out of order"},
    {0x27, "Permanent frame mode connection out-of-service"},
    {0x28, "Permanent frame mode connection operational"},
    {0x29, "Temporary failure"},
    {0x2A, "Switching equipment congestion"},
    {0x2B, "Access information discarded"},
    {0x2C, "Requested circuit/channel not available"},
    {0x2E, "Precedence call blocked"},
    {0x2F, "Resource unavailable, unspecified"},
    {0x31, "Quality of service unavailable"},
    {0x32, "Requested facility not subscribed"},
    {0x35, "Outgoing calls barred within CUG"},
    {0x37, "Incoming calls barred within CUG"},
    {0x39, "Bearer capability not authorized"},
    {0x3A, "Bearer capability not presently available"},
    {0x3E, "Inconsistency in designated outgoing access information and subscriber class "},
    {0x3F, "Service or option not available, unspecified"},
    {0x41, "Bearer capability not implemented"},
    {0x42, "Channel type not implemented"},
    {0x43, "Requested facility not implemented"},
    {0x44, "Only restricted digital information bearer capability is available"},
    {0x4F, "Service or option not implemented"},
    {0x51, "Invalid call reference value"},
    {0x52, "Identified channel does not exist"},
    {0x53, "A suspended call exists, but this call identity does not"},
    {0x54, "Call identity in use"},
    {0x55, "No call suspended"},
    {0x56, "Call having the requested call identity has been cleared"},
    {0x57, "User not member of CUG"},
    {0x58, "Incompatible destination"},
    {0x5A, "Non-existent CUG"},
    {0x5B, "Invalid transit network selection"},
    {0x5F, "Invalid message, unspecified"},
    {0x60, "Mandatory information element is missing"},
    {0x61, "Message type non-existent or not implemented"},
    {0x62, "Message not compatible with call state or message type non-existent or not implemented "},
    {0x63, "Information element/parameter non-existent or not implemented"},
    {0x64, "Invalid information element contents"},
    {0x65, "Message not compatible with call state"},
    {0x66, "Recovery on timer expiry"},
    {0x67, "Parameter non-existent or not implemented - passed on"},
    {0x6E, "Message with unrecognized parameter discarded"},
    {0x6F, "Protocol error, unspecified"},
    {0x7F, "Interworking, unspecified"},
};

template <size_t N>
const char* lookup(const Named (&table)[N], unsigned code) {
  for (const Named& e : table)
    if (e.code == code) return e.name;
  return nullptr;
}

void octets(Text& t, View e) {
  unsigned number = 3;
  char suffix = ' ';
  for (unsigned i = 2; e.has(i); ++i) {
    t.printf("    octet %d%c ", number, suffix);
    t.bits(e[i], 8, 8);
    t.put('\n');
    if (e[i + 1] & 0x80) {
      ++number;
      suffix = ' ';
    } else {
      suffix = suffix == ' ' ? 'a' : char(suffix + 1);
    }
  }
}

void octet3(Text& t, View e) {
  if (!e.has(2)) return;
  t.puts("    octet 3 ");
  t.bits(e[2], 8, 8);
  t.put('\n');
}

void text(Text& t, View e) {
  t.puts("   \"");
  for (unsigned i = 2; e.has(i); ++i) t.put(char(e[i]));
  t.puts("\"\n");
}

void digits(Text& t, View e, unsigned from) {
  t.puts("    number digits ");
  for (unsigned i = from; e.has(i); ++i) t.put(char(e[i]));
  t.put('\n');
}

void called(Text& t, View e) {
  if (!e.has(2)) return;
  octet3(t, e);
  digits(t, e, 3);
}

void calling(Text& t, View e) {
  if (!e.has(2)) return;
  octet3(t, e);
  unsigned next = 3;
  if (!(e[2] & 0x80) && e.has(3)) {
    t.puts("    octet 3a ");
    t.bits(e[3], 8, 8);
    t.put('\n');
    next = 4;
  }
  digits(t, e, next);
}

void bearer(Text& t, View e) {
  unsigned i = 2;
  auto line = [&](const char* label) {
    t.puts(label);
    t.bits(e[i], 8, 8);
    t.put('\n');
    ++i;
  };
  if (!e.has(i)) return;
  line("    octet 3  ");
  if (!e.has(i)) return;
  bool multirate = (e[i] & 0x1F) == 24;
  line("    octet 4  ");
  if (multirate && e.has(i)) line("    octet 4.1 ");
  if (e.has(i) && (e[i] & 0x60) == 0x20) {
    char suffix = ' ';
    while (e.has(i)) {
      bool last = e[i] & 0x80;
      t.printf("    octet 5%c ", suffix);
      t.bits(e[i], 8, 8);
      t.put('\n');
      ++i;
      suffix = suffix == ' ' ? 'a' : char(suffix + 1);
      if (last) break;
    }
  }
  if (e.has(i) && (e[i] & 0x60) == 0x40) line("    octet 6  ");
  if (e.has(i) && (e[i] & 0x60) == 0x60) line("    octet 7  ");
}

void cause(Text& t, View e) {
  if (!e.has(2)) return;
  t.puts("    coding ");
  t.bits(e[2], 7, 2);
  t.puts(" location ");
  t.bits(e[2], 4, 4);
  t.put('\n');
  unsigned i = 2;
  while (e.has(i) && !(e[i] & 0x80)) ++i;
  ++i;  // past the octet that ends octet group 3
  if (!e.has(i)) return;
  unsigned value = e[i] & 0x7F;
  if (const char* name = lookup(kCauses, value))
    t.printf("  cause value %x : %s \n", value, name);
  else
    t.printf("Unknown cause type %x!\n", value);
  ++i;
  while (e.has(i)) {
    t.printf("    diag attribute %d ", e[i] & 0x7F);
    ++i;
    if (!e.has(i)) break;
    t.printf(" rej %d ", e[i] & 0x7F);
    if (e[i] & 0x80) {
      t.put('\n');
      break;
    }
    ++i;
    if (!e.has(i)) break;
    t.printf(" av %d\n", e[i] & 0x7F);
    ++i;
  }
}

void facility(Text& t, View e) {
  if (!e.has(2)) return;
  octet3(t, e);
  unsigned i = 3;
  while (e.has(i)) {
    t.puts("   octet 4 ");
    t.bits(e[i], 8, 8);
    t.put('\n');
    ++i;
    if (!e.has(i)) break;
    unsigned n = e[i] & 0x7F;
    t.printf("   octet 5 %d\n", n);
    ++i;
    t.puts("   contents ");
    for (unsigned k = 0; k < n && e.has(i); ++k, ++i) t.printf("%2x ", e[i]);
    t.put('\n');
  }
}

struct Element {
  unsigned id;
  const char* name;
  void (*decode)(Text&, View);
};

const Element kElements[] = {
    {0x00, "Segmented message", octets},
    {0x04, "Bearer capability", bearer},
    {0x08, "Cause", cause},
    {0x10, "Call identity", octets},
    {0x14, "Call state", octets},
    {0x18, "Channel identification", octet3},
    {0x1C, "Facility", facility},
    {0x1E, "Progress indicator", octets},
    {0x20, "Network-specific facilities", octets},
    {0x27, "Notification indicator", octets},
    {0x28, "Display", text},
    {0x29, "Date/Time", octets},
    {0x2C, "Keypad facility", octets},
    {0x34, "Signal", octets},
    {0x40, "Information rate", octets},
    {0x42, "End-to-end delay", octets},
    {0x43, "Transit delay selection and indication", octets},
    {0x44, "Packet layer binary parameters", octets},
    {0x45, "Packet layer window size", octets},
    {0x46, "Packet size", octets},
    {0x47, "Closed user group", octets},
    {0x4A, "Reverse charge indication", octets},
    {0x6C, "Calling party number", calling},
    {0x6D, "Calling party subaddress", octets},
    {0x70, "Called party number", called},
    {0x71, "Called party subaddress", octets},
    {0x74, "Redirecting number", octets},
    {0x78, "Transit network selection", octets},
    {0x79, "Restart indicator", octets},
    {0x7C, "Low layer compatibility", octets},
    {0x7D, "High layer compatibility", octets},
    {0x7E, "User-user", octets},
    {0x7F, "Escape for extension", octets},
};

void singleOctet(Text& t, unsigned char o) {
  switch ((o >> 4) & 7) {
    case 1: t.printf("  Shift %x\n", o & 0x0F); break;
    case 2:
      if (o == 0xA0) t.puts("  More data\n");
      else if (o == 0xA1) t.puts("  Sending complete\n");
      break;
    case 3: t.printf("  Congestion level %x\n", o & 0x0F); break;
    case 5: t.printf("  Repeat indicator %x\n", o & 0x0F); break;
    default: t.printf("  Reserved %x\n", o); break;
  }
}

// The Q.931 message of octets f[start, n).
void message(Text& t, const unsigned char* f, unsigned n, unsigned start) {
  View m{f + start, n - start};
  if (m[0] != 8) {
    t.printf("Unknown protocol %x!", m[0]);
    return;
  }
  unsigned crv = 0, type, pos;
  if (m[1] != 0) {
    crv = m[2];
    type = m[3];
    pos = 4;
  } else {
    type = m[2];
    pos = 3;
  }
  const char* dir = crv & 0x80 ? "called" : "caller";
  if (const char* name = lookup(kMessageTypes, type))
    t.printf("callref %d %s size %d message type %s\n", crv & 0x7F, dir, m.n, name);
  else
    t.printf("callref %d %s size %d unknown message type %x!\n", crv & 0x7F, dir, m.n, type);
  while (pos < m.n) {
    unsigned char id = m[pos];
    if (id & 0x80) {
      singleOctet(t, id);
      ++pos;
      continue;
    }
    unsigned len = m[pos + 1];
    const Element* el = nullptr;
    for (const Element& e : kElements)
      if (e.id == id) el = &e;
    if (!el) {
      t.printf("  attribute %x attribute size %d\n", id, len);
    } else {
      t.printf("  %s\n", el->name);
      unsigned avail = m.n - pos;
      el->decode(t, View{m.p + pos, len + 2 < avail ? len + 2 : avail});
    }
    pos += len + 2;
  }
}

}  // namespace

void dlogframe(const unsigned char* f, unsigned n, int direction, char* out) {
  Text t(out);
  if (!f || n < 3) return;
  for (unsigned i = 0; i < n; ++i) t.printf(" %02X", f[i]);
  t.put('\n');
  t.printf("frame %s ", direction ? "network->user" : "user->network");
  unsigned sapi = f[0] >> 2, tei = f[1] >> 1, control = f[2];
  unsigned start;
  if (tei == 127) {
    if (sapi == 63) return t.puts("tei management:\n");
    if (sapi != 0) return t.printf("unknown sapi %d broadcast\n", sapi);
    if (control != 0x03) return t.puts("no UI broadcast\n");
    t.puts("broadcast\n");
    start = 3;
  } else {
    if (sapi != 0) return t.printf("unknown sapi = %d; tei = %d\n", sapi, tei);
    if (control & 1) {
      t.printf("SFrame tei = %d (", tei);
      for (unsigned i = 2; i < n; ++i) t.printf("%02X ", f[i]);
      return t.puts(")\n");
    }
    t.printf("IFrame tei = %d\n", tei);
    start = 4;
  }
  if (start >= n) return t.puts("frame too short\n");
  message(t, f, n, start);
}

}  // namespace ISDN
