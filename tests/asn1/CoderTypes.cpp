#include "CoderTypes.h"

#include <memory>

#include "DemoTypes.h"

using namespace ASN1;

namespace CoderTypes {

namespace {

typedef Constrained_INTEGER<FixedConstraint, 0, 4294967295u> Unsigned32;

const void* const kindsInfos[kCount] = {
    &Null::theInfo,          &BOOLEAN::theInfo,          &INTEGER::theInfo,
    &Unsigned32::theInfo,    &Demo::Mode::theInfo,       &OBJECT_IDENTIFIER::theInfo,
    &BIT_STRING::theInfo,    &OCTET_STRING::theInfo,     &IA5String::theInfo,
    &BMPString::theInfo,     &GeneralizedTime::theInfo,  &SEQUENCE_OF<INTEGER>::theInfo,
    &SET_OF<IA5String>::theInfo, &Demo::Command::theInfo, &Named,
    &OpenInteger};
const int kindsIds[kCount] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 1, 2, 3};
const char* const kindsNames[kCount] = {"n",    "b",    "i",    "u",    "e",    "oid", "bits",  "octets",
                                        "text", "wide", "time", "list", "set",  "alt", "named", "open"};

const IntegerWithNamedNumber::NameEntry namedEntries[3] = {{-1, "low"}, {0, "zero"}, {1000, "high"}};

const void* const scalarInfos[2] = {&INTEGER::theInfo, &IA5String::theInfo};
const unsigned scalarTags[2] = {2, 0x16};
const char* const scalarNames[2] = {"num", "word"};

const void* const ownInfos[3] = {&INTEGER::theInfo, &BOOLEAN::theInfo, &Scalar};
const int ownIds[3] = {-1, 0, -1};
const char* const ownNames[3] = {"num", "flag", "pick"};

const void* const wideInfos[3] = {&INTEGER::theInfo, &BOOLEAN::theInfo, &Scalar};
const int wideIds[3] = {-1, 0, 1};
const unsigned wideTags[3] = {makeTag(ApplicationTagClass, 200), makeTag(PrivateTagClass, 31), 0};
const char* const wideNames[3] = {"a", "b", "c"};

const void* const pairInfos[2] = {&INTEGER::theInfo, &INTEGER::theInfo};
const int pairIds[2] = {-1, 0};
const char* const pairNames[2] = {"a", "b"};

const void* const optInfos[2] = {&INTEGER::theInfo, &BOOLEAN::theInfo};
const int optIds[2] = {0, 1};
const char* const optNames[2] = {"a", "b"};

}  // namespace

const SEQUENCE::InfoType Kinds = {
    {&SEQUENCE::create, 16}, false, kindsInfos, kindsIds, kCount, 0, 4, nullptr, nullptr, kindsNames, nullptr};
const CHOICE::InfoType Scalar = {{&CHOICE::create, 0}, false, scalarInfos, 2, 2, scalarTags, scalarNames};
const SEQUENCE::InfoType Own = {
    {&SEQUENCE::create, 16}, false, ownInfos, ownIds, 3, 0, 1, nullptr, &SEQUENCE::defaultTag, ownNames, nullptr};
const SEQUENCE::InfoType Wide = {
    {&SEQUENCE::create, 16}, false, wideInfos, wideIds, 3, 0, 2, nullptr, wideTags, wideNames, nullptr};
const SEQUENCE::InfoType Pair = {
    {&SEQUENCE::create, 16}, false, pairInfos, pairIds, 2, 0, 1, nullptr, nullptr, pairNames, nullptr};
const SEQUENCE::InfoType Opt = {
    {&SEQUENCE::create, 16}, false, optInfos, optIds, 2, 0, 2, nullptr, nullptr, optNames, nullptr};
const SEQUENCE_OF_Base::InfoType OptList = {{{&SEQUENCE_OF_Base::create, 16}, Unconstrained, 0, 4294967295u}, &Opt};
const IntegerWithNamedNumber::InfoType Named = {
    {{&create_value<IntegerWithNamedNumber>, 2}, Unconstrained, 0, 4294967295u}, namedEntries, 3};
const TypeConstrainedOpenData::InfoType OpenInteger = {{&TypeConstrainedOpenData::create, 0}, &INTEGER::theInfo};
const ConstrainedObject::InfoType Tag31Integer = {{&INTEGER::create, 31}, Unconstrained, 0, 4294967295u};
const ConstrainedObject::InfoType Tag128Integer = {{&INTEGER::create, 128}, Unconstrained, 0, 4294967295u};

SEQUENCE* makeKinds() {
  std::unique_ptr<SEQUENCE> s(static_cast<SEQUENCE*>(AbstractData::create(&Kinds)));
  field<BOOLEAN>(*s, kB) = true;
  field<INTEGER>(*s, kI) = -300;
  field<INTEGER>(*s, kU) = static_cast<int>(4000000000u);
  field<ENUMERATED>(*s, kE).setFromInt(Demo::Mode::standby);
  OBJECT_IDENTIFIER& oid = field<OBJECT_IDENTIFIER>(*s, kOid);
  for (unsigned arc : {1u, 2u, 840u, 113549u}) oid.append(arc);
  BIT_STRING& bits = field<BIT_STRING>(*s, kBits);
  bits.resize(11);
  bits.set(0);
  bits.set(2);
  bits.set(10);
  field<OCTET_STRING>(*s, kOctets) = std::vector<char>{'\x01', '\xab', '\xff', '\0'};
  field<AbstractString>(*s, kText) = std::string("trunk 1, {b}: x");
  field<BMPString>(*s, kWide).std::wstring::assign(L"BMP text");
  field<GeneralizedTime>(*s, kTime).set("20240131235959.5+0130");
  SEQUENCE_OF_Base& list = field<SEQUENCE_OF_Base>(*s, kList);
  for (int v : {1, -2, 300}) list.push_back(new INTEGER(v, &INTEGER::theInfo));
  SEQUENCE_OF_Base& set = field<SEQUENCE_OF_Base>(*s, kSet, optSet);
  set.push_back(new IA5String("x"));
  set.push_back(new IA5String(""));
  Demo::Command& alt = field<Demo::Command>(*s, kAlt, optAlt);
  alt.select_query_state(Demo::Mode::active);
  field<INTEGER>(*s, kNamed, optNamed) = 1000;
  OpenData& open = field<OpenData>(*s, kOpen, optOpen);
  dynamic_cast<INTEGER&>(open.get_data()) = 77;
  return s.release();
}

}  // namespace CoderTypes
