// The R2S codec against bytes worked out by hand from the header layout
// (byte 0: PTT type 7-5, SQU 4, PTT id 5-2 in 3-0; byte 1: PTT id 1-0 in
// 7-6, PM 5, PTTS 4, SCT 3, X 0) and the type-length features (type in the
// high nibble, value bytes in the low). Packets sit in buffers of exactly
// their size, so that a read past the end shows under the sanitizers.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "rtp/R2sProto.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Packs into a buffer of `room` bytes followed by a guard that must stay.
Bytes pack(r2s_proto& p, int room, int* result) {
  Bytes buf(size_t(room) + 8, 0xEE);
  *result = r2s_proto_pack(&p, buf.data(), room);
  for (size_t i = size_t(room); i < buf.size(); ++i) EXPECT_EQ(buf[i], 0xEE) << "written past the room at " << i;
  buf.resize(size_t(room));
  if (*result > 0) buf.resize(size_t(*result));
  return buf;
}

Bytes pack(r2s_proto& p) {
  int r = 0;
  Bytes b = pack(p, 1024, &r);
  EXPECT_GT(r, 0);
  return b;
}

int unpack_rx(r2s_proto& p, Bytes b) { return r2s_proto_unpack_rx(&p, b.data(), int(b.size())); }
int unpack_tx(r2s_proto& p, Bytes b) { return r2s_proto_unpack_tx(&p, b.data(), int(b.size())); }

r2s_proto rx(unsigned long type, unsigned long squ, unsigned long id, unsigned long pm, unsigned long ptts,
             unsigned long sct) {
  r2s_proto p;
  r2s_proto_init(&p, R2S_KIND_RX);
  r2s_proto_set_rx_header(&p, type, squ, id, pm, ptts, sct);
  return p;
}

TEST(R2sProto, RxHeaderAndFeaturesPackByteForByte) {
  // SQU on, SQI quality 20 (10100) method 1 (001): 10100001 = A1.
  r2s_proto p = rx(0, 1, 0, 0, 0, 0);
  r2s_proto_add_rx_sqi(&p, 20, 1);
  EXPECT_EQ(pack(p), (Bytes{0x10, 0x01, 0x11, 0xA1}));

  // The keep-alive: an empty rx header and two zero bytes.
  r2s_proto empty;
  r2s_proto_init(&empty, R2S_KIND_RX);
  EXPECT_EQ(pack(empty), (Bytes{0x00, 0x00, 0x00, 0x00}));

  // Type 4, SQU, id 45 (1011 01), PM, SCT: 100 1 1011 = 9B; 01 1 0 1 00 0 = 68.
  // Widths are masked: type 12 is 4, id 109 is 45, a bit of 3 is 1.
  p = rx(12, 3, 109, 1, 0, 1);
  EXPECT_EQ(pack(p), (Bytes{0x9B, 0x68, 0x00, 0x00}));

  // Long RRC: flags 1 and 8 (81), long flag 1 (80), bytes 12 34. MAM: flag 1
  // and value 0x123456 (92 34 56), value 0x7FFFFF (7F FF FF), 0102 ABCD FFFF.
  p = rx(0, 0, 0, 0, 0, 0);
  r2s_proto_rx_additional_rrc rrc{{1, 0, 0, 0, 0, 0, 0, 1}, 1, 1, 0, 0x12, 0x34};
  r2s_proto_rx_additional_mam mam{1, 0x123456, 0, 0x7FFFFF, 0x0102, 0xABCD, 0xFFFF};
  r2s_proto_add_rx_rrc(&p, &rrc);
  r2s_proto_add_rx_mam(&p, &mam);
  // A tx-only feature in an rx record is passed over.
  r2s_proto_tx_additional_climax_time_delay delay{7};
  r2s_proto_add_tx_time_delay(&p, &delay);
  EXPECT_EQ(pack(p), (Bytes{0x00, 0x01, 0x34, 0x81, 0x80, 0x12, 0x34, 0x4C, 0x92, 0x34, 0x56, 0x7F, 0xFF, 0xFF,
                            0x01, 0x02, 0xAB, 0xCD, 0xFF, 0xFF}));

  r2s_proto back;
  ASSERT_EQ(unpack_rx(back, pack(p)), 0);
  ASSERT_EQ(back.count, 2u);
  r2s_proto_rx_additional_rrc rrc2;
  std::memcpy(&rrc2, back.additionals[0].value, sizeof rrc2);
  EXPECT_EQ(std::memcmp(&rrc, &rrc2, sizeof rrc), 0);
  r2s_proto_rx_additional_mam mam2;
  std::memcpy(&mam2, back.additionals[1].value, sizeof mam2);
  EXPECT_EQ(std::memcmp(&mam, &mam2, sizeof mam), 0);
}

TEST(R2sProto, TxPacksWithoutTheRxBitsAndUnpacksIgnoringThem) {
  // Type 1, id 2 (0000 10), PTTS: 001 0 0000 = 20; 10 0 1 0 00 1 = 91.
  // Delay 300 keeps its low byte (2C); RRC flag 2 (40); RRM flag, 0x000102.
  r2s_proto p;
  r2s_proto_init(&p, R2S_KIND_EMPTY);
  r2s_proto_set_tx_header(&p, 1, 2, 0, 1);
  r2s_proto_tx_additional_climax_time_delay delay{300};
  r2s_proto_tx_additional_rrc rrc{{0, 1, 0, 0, 0, 0, 0, 0}};
  r2s_proto_tx_additional_rrm rrm{1, 0x102};
  r2s_proto_add_tx_time_delay(&p, &delay);
  r2s_proto_add_tx_rrc(&p, &rrc);
  r2s_proto_add_tx_rrm(&p, &rrm);
  r2s_proto_add_rx_sqi(&p, 20, 1);  // rx only: passed over
  Bytes wire = pack(p);
  EXPECT_EQ(wire, (Bytes{0x20, 0x91, 0x21, 0x2C, 0x31, 0x40, 0x43, 0x80, 0x01, 0x02}));

  r2s_proto back;
  ASSERT_EQ(unpack_tx(back, wire), 0);
  EXPECT_EQ(back.kind, R2S_KIND_TX);
  EXPECT_EQ(back.header[R2S_TX_PTT_TYPE], 1u);
  EXPECT_EQ(back.header[R2S_TX_PTT_ID], 2u);
  EXPECT_EQ(back.header[R2S_TX_PTTS], 1u);
  ASSERT_EQ(back.count, 3u);
  EXPECT_EQ(back.additionals[0].kind, R2S_FEATURE_TIME_DELAY);
  EXPECT_EQ(back.additionals[0].value[0], 0x2Cu);
  EXPECT_EQ(back.additionals[1].value[1], 1u);
  EXPECT_EQ(back.additionals[2].value[0], 1u);
  EXPECT_EQ(back.additionals[2].value[1], 0x102u);

  // The SQU (byte 0 bit 4) and SCT (byte 1 bit 3) positions mean nothing in tx.
  r2s_proto plain, marked;
  ASSERT_EQ(unpack_tx(plain, {0x2F, 0xF0}), 0);
  ASSERT_EQ(unpack_tx(marked, {0x3F, 0xF8}), 0);
  EXPECT_EQ(std::memcmp(plain.header, marked.header, sizeof plain.header), 0);
  EXPECT_EQ(plain.header[R2S_TX_PTT_ID], 63u);

  // X set and nothing after the header: a header and no features.
  EXPECT_EQ(unpack_tx(back, {0x20, 0x91}), 0);
  EXPECT_EQ(back.count, 0u);
}

TEST(R2sProto, PackingNeverPassesTheRoomItIsGiven) {
  r2s_proto p = rx(0, 1, 0, 0, 0, 0);
  int r = 0;
  // One byte: refused before anything is written.
  Bytes one(1, 0xEE);
  EXPECT_EQ(r2s_proto_pack(&p, one.data(), 1), R2S_ESHORT);
  EXPECT_EQ(one[0], 0xEE);
  pack(p, 3, &r);
  EXPECT_EQ(r, R2S_ESHORT);

  // SQI (2) then a short-form RRC, which asks room for the long form (5):
  // 2 + 2 + 5 = 9 bytes of room for 6 written.
  r2s_proto_add_rx_sqi(&p, 20, 1);
  r2s_proto_rx_additional_rrc rrc{{1, 0, 0, 0, 0, 0, 0, 0}, 0, 0, 0, 0, 0};
  r2s_proto_add_rx_rrc(&p, &rrc);
  pack(p, 8, &r);
  EXPECT_EQ(r, R2S_ESHORT);
  EXPECT_EQ(pack(p, 9, &r), (Bytes{0x10, 0x01, 0x11, 0xA1, 0x31, 0x80}));
  EXPECT_EQ(r, 6);

  // An rx RRC of no known form, a kind the dispatcher does not know, nulls.
  p.additionals[1].value[8] = 2;
  pack(p, 64, &r);
  EXPECT_EQ(r, R2S_EKIND);
  r2s_proto_set_type(&p, 3);
  pack(p, 64, &r);
  EXPECT_EQ(r, R2S_EKIND);
  EXPECT_EQ(r2s_proto_pack(nullptr, one.data(), 1), R2S_ENULL);
  EXPECT_EQ(r2s_proto_pack_rx(&p, nullptr, 64), 0);

  // The seventeenth feature is not taken.
  r2s_proto full;
  r2s_proto_init(&full, R2S_KIND_RX);
  for (int i = 0; i < 16; ++i) r2s_proto_add_rx_sqi(&full, unsigned(i), 0);
  r2s_proto before = full;
  EXPECT_EQ(r2s_proto_add_rx_sqi(&full, 31, 7), 0);
  EXPECT_EQ(std::memcmp(&before, &full, sizeof full), 0);
}

TEST(R2sProto, UnpackingTakesOnlyWhatTheBytesHold) {
  r2s_proto p;
  // A feature whose value is missing: -9, nothing counted.
  EXPECT_EQ(unpack_rx(p, {0x00, 0x01, 0x11}), R2S_ESHORT);
  EXPECT_EQ(p.count, 0u);
  // A length of 15 with two bytes left; an SQI before it is kept.
  EXPECT_EQ(unpack_rx(p, {0x00, 0x01, 0x11, 0xA1, 0x4F, 0x00, 0x00}), R2S_ESHORT);
  EXPECT_EQ(p.count, 1u);
  EXPECT_EQ(unpack_rx(p, {0x10}), R2S_ESHORT);
  EXPECT_EQ(r2s_proto_unpack_rx(&p, nullptr, 4), R2S_ENULL);
  EXPECT_EQ(r2s_proto_unpack_tx(nullptr, Bytes(4).data(), 4), R2S_ENULL);

  // An unknown type 5 of 2 bytes, a known type of the wrong length and zero
  // padding are all skipped: only the SQI and the short RRC count.
  ASSERT_EQ(unpack_rx(p, {0x10, 0x09, 0x52, 0xAA, 0xBB, 0x12, 0x11, 0xA1, 0x00, 0x11, 0xA1, 0x00, 0x00, 0x31,
                          0x80}),
            0);
  EXPECT_EQ(p.header[R2S_RX_SQU], 1u);
  EXPECT_EQ(p.header[R2S_RX_SCT], 1u);
  ASSERT_EQ(p.count, 2u);
  EXPECT_EQ(p.additionals[0].kind, R2S_FEATURE_SQI);
  EXPECT_EQ(p.additionals[0].value[0], 20u);
  EXPECT_EQ(p.additionals[0].value[1], 1u);
  EXPECT_EQ(p.additionals[1].kind, R2S_FEATURE_RRC);
  EXPECT_EQ(p.additionals[1].value[0], 1u);
  EXPECT_EQ(p.additionals[1].value[8], 0u);

  // Twenty SQIs: the first sixteen, no error.
  Bytes twenty = {0x00, 0x01};
  for (int i = 0; i < 20; ++i) twenty.insert(twenty.end(), {0x11, (unsigned char)(i << 3)});
  ASSERT_EQ(unpack_rx(p, twenty), 0);
  ASSERT_EQ(p.count, 16u);
  EXPECT_EQ(p.additionals[15].value[0], 15u);

  // Without X, whatever follows the header is not looked at.
  EXPECT_EQ(unpack_rx(p, {0x00, 0x00, 0x1F}), 0);
  EXPECT_EQ(p.count, 0u);
}

TEST(R2sProto, FillsAnRtpHeaderExtensionOfWholeWords) {
  // In the RTP header extension (profile 0x0167, then the length in 32-bit
  // words) the R2S bytes are padded with zero bytes to a whole word; the
  // receiver's reading of zero bytes as nothing makes that safe.
  r2s_proto p = rx(0, 1, 0, 0, 0, 0);
  r2s_proto_add_rx_sqi(&p, 20, 1);
  r2s_proto_rx_additional_rrc rrc{{1, 0, 0, 0, 0, 0, 0, 0}, 0, 0, 0, 0, 0};
  r2s_proto_add_rx_rrc(&p, &rrc);
  Bytes extension = {0x01, 0x67, 0x00, 0x02, 0x10, 0x01, 0x11, 0xA1, 0x31, 0x80, 0x00, 0x00};
  Bytes body = pack(p);
  ASSERT_EQ(body.size(), 6u);
  body.resize(8, 0);
  EXPECT_EQ(Bytes(extension.begin() + 4, extension.end()), body);

  r2s_proto back;
  ASSERT_EQ(unpack_rx(back, Bytes(extension.begin() + 4, extension.end())), 0);
  EXPECT_EQ(back.count, 2u);
  EXPECT_EQ(back.header[R2S_RX_SQU], 1u);
}

TEST(R2sProto, SenderComparison) {
  r2s_proto a = rx(1, 1, 5, 0, 0, 0), b = rx(0, 0, 0, 1, 1, 1);
  a.source_addr = b.source_addr = 0x0100000A;
  a.source_ssrc = b.source_ssrc = 77;
  EXPECT_EQ(cmp_r2s_proto_source(&a, &b), 0);
  b.source_ssrc = 78;
  EXPECT_GT(cmp_r2s_proto_source(&a, &b), 0);
  b.source_ssrc = 77;
  b.source_addr = 0x0200000A;
  EXPECT_NE(cmp_r2s_proto_source(&a, &b), 0);
  b.source_addr = a.source_addr;
  r2s_proto_set_type(&b, R2S_KIND_TX);
  EXPECT_LT(cmp_r2s_proto_source(&a, &b), 0);
  EXPECT_EQ(cmp_r2s_proto_source(&a, nullptr), -1);
}

}  // namespace
