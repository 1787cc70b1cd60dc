// The constant records of the PER test types.
#include "PerTypes.h"

namespace PerTest {

using ASN1::create_value;

const ASN1::ConstrainedObject::InfoType OctetsFixed2 = {&create_value<ASN1::OCTET_STRING>, 4, FixedConstraint, 2, 2};
const ASN1::ConstrainedObject::InfoType OctetsUpTo8 = {&create_value<ASN1::OCTET_STRING>, 4, FixedConstraint, 0, 8};
const ASN1::ConstrainedObject::InfoType OctetsExt1to4 = {&create_value<ASN1::OCTET_STRING>, 4, ExtendableConstraint, 1,
                                                         4};
const ASN1::ConstrainedObject::InfoType OctetsUpTo20000 = {&create_value<ASN1::OCTET_STRING>, 4, FixedConstraint, 0,
                                                           20000};
const ASN1::ConstrainedObject::InfoType BitsUpTo32 = {&create_value<ASN1::BIT_STRING>, 3, FixedConstraint, 0, 32};
const ASN1::SEQUENCE_OF_Base::InfoType BoolsUpTo3 = {
    &create_value<ASN1::SEQUENCE_OF_Base>, 16, FixedConstraint, 0, 3, &ASN1::BOOLEAN::theInfo};
const ASN1::TypeConstrainedOpenData::InfoType BoolOpenType = {&ASN1::TypeConstrainedOpenData::create, 0,
                                                              &ASN1::BOOLEAN::theInfo};

namespace {
const char* const Small_enum_names__[4] = {"a", "b", "c", "d"};
const char* const Closed_enum_names__[3] = {"x", "y", "z"};
}  // namespace

const Small::InfoType Small::theInfo = {&create_value<Small>, 10, true, 3, Small_enum_names__, 4};
const Closed::InfoType Closed::theInfo = {&create_value<Closed>, 10, false, 2, Closed_enum_names__, 3};

const void* const Tri::selectionInfos[3] = {&ASN1::Null::theInfo, &ASN1::BOOLEAN::theInfo, &c_type::theInfo};
const char* const Tri::selectionNames[3] = {"a", "b", "c"};
const Tri::InfoType Tri::theInfo = {&create_value<Tri>, 0, false, selectionInfos, 3, 3, nullptr, selectionNames};

const void* const ParamsV2::fieldInfos[7] = {
    &Demo::Params::slot_type::theInfo,  &Demo::Params::name_type::theInfo,       &Demo::Params::mode_type::theInfo,
    &Demo::Params::items_type::theInfo, &Demo::Params::gain_level_type::theInfo, &ASN1::BOOLEAN::theInfo,
    &extra_type::theInfo};
const int ParamsV2::fieldIds[7] = {-1, 0, -1, 1, 0, 0, 0};
const char* const ParamsV2::fieldNames[7] = {"slot", "name", "mode", "items", "gain-level", "flag", "extra"};
namespace {
constexpr unsigned paramsV2Mode = ASN1::next_place<Demo::Params::slot_type>(ASN1::slot_bytes(7));
constexpr ASN1::FieldPlace paramsV2Places[7] = {
    ASN1::place_at<Demo::Params::slot_type>(ASN1::slot_bytes(7)), ASN1::no_place(),
    ASN1::place_at<Demo::Params::mode_type>(paramsV2Mode), ASN1::no_place(), ASN1::no_place(), ASN1::no_place(),
    ASN1::no_place()};
constexpr ASN1::FieldBlock paramsV2Block =
    ASN1::block_of(paramsV2Places, ASN1::next_place<Demo::Params::mode_type>(paramsV2Mode));
}  // namespace
const ParamsV2::InfoType ParamsV2::theInfo = {
    &create_value<ParamsV2>, 16, true, fieldInfos, fieldIds, 4, 3, 2, nullptr, nullptr, fieldNames, &paramsV2Block};

const void* const CommandV2::selectionInfos[4] = {&Demo::Params::theInfo, &ASN1::Null::theInfo, &Demo::Mode::theInfo,
                                                  &ASN1::BOOLEAN::theInfo};
const char* const CommandV2::selectionNames[4] = {"create", "destroy", "query-state", "reset"};
const CommandV2::InfoType CommandV2::theInfo = {
    &create_value<CommandV2>, 0, true, selectionInfos, 2, 4, nullptr, selectionNames};

// os, os2?, bits, num, tiny, oid?, bmp, open, typed?, small, ext, neg,
// bools, tri, oneBit, ..., more?
const void* const Sink::fieldInfos[16] = {
    &OctetsUpTo8,       &OctetsExt1to4,     &BitsUpTo32,          &ASN1::NumericString::theInfo,
    &Tiny0to2::theInfo, &ASN1::OBJECT_IDENTIFIER::theInfo,         &ASN1::BMPString::theInfo,
    &ASN1::OpenData::theInfo, &BoolOpenType, &Small::theInfo,      &IntExt0to255::theInfo,
    &IntFromMinus10::theInfo, &BoolsUpTo3,  &Tri::theInfo,         &Int0to1::theInfo,
    &ASN1::OCTET_STRING::theInfo};
const int Sink::fieldIds[16] = {-1, 0, -1, -1, -1, 1, -1, -1, 2, -1, -1, -1, -1, -1, -1, 0};
const char* const Sink::fieldNames[16] = {"os",    "os2",   "bits", "num", "tiny", "oid",  "bmp",    "open",
                                          "typed", "small", "ext",  "neg", "bools", "tri", "oneBit", "more"};
// The mandatory fields one after another in the block, after the slots.
namespace {
using ASN1::next_place;
constexpr unsigned sinkAt0 = ASN1::slot_bytes(16);
constexpr unsigned sinkAt2 = next_place<ASN1::OCTET_STRING>(sinkAt0);
constexpr unsigned sinkAt3 = next_place<ASN1::BIT_STRING>(sinkAt2);
constexpr unsigned sinkAt4 = next_place<ASN1::NumericString>(sinkAt3);
constexpr unsigned sinkAt6 = next_place<Tiny0to2>(sinkAt4);
constexpr unsigned sinkAt7 = next_place<ASN1::BMPString>(sinkAt6);
constexpr unsigned sinkAt9 = next_place<ASN1::OpenData>(sinkAt7);
constexpr unsigned sinkAt10 = next_place<Small>(sinkAt9);
constexpr unsigned sinkAt11 = next_place<IntExt0to255>(sinkAt10);
constexpr unsigned sinkAt12 = next_place<IntFromMinus10>(sinkAt11);
constexpr unsigned sinkAt13 = next_place<ASN1::SEQUENCE_OF_Base>(sinkAt12);
constexpr unsigned sinkAt14 = next_place<Tri>(sinkAt13);
constexpr unsigned sinkEnd = next_place<Int0to1>(sinkAt14);
constexpr ASN1::FieldPlace sinkPlaces[16] = {
    ASN1::place_at<ASN1::OCTET_STRING>(sinkAt0),     ASN1::no_place(),
    ASN1::place_at<ASN1::BIT_STRING>(sinkAt2),       ASN1::place_at<ASN1::NumericString>(sinkAt3),
    ASN1::place_at<Tiny0to2>(sinkAt4),               ASN1::no_place(),
    ASN1::place_at<ASN1::BMPString>(sinkAt6),        ASN1::place_at<ASN1::OpenData>(sinkAt7),
    ASN1::no_place(),                                ASN1::place_at<Small>(sinkAt9),
    ASN1::place_at<IntExt0to255>(sinkAt10),          ASN1::place_at<IntFromMinus10>(sinkAt11),
    ASN1::place_at<ASN1::SEQUENCE_OF_Base>(sinkAt12), ASN1::place_at<Tri>(sinkAt13),
    ASN1::place_at<Int0to1>(sinkAt14),               ASN1::no_place()};
constexpr ASN1::FieldBlock sinkBlock = ASN1::block_of(sinkPlaces, sinkEnd);
}  // namespace
const Sink::InfoType Sink::theInfo = {
    &create_value<Sink>, 16, true, fieldInfos, fieldIds, 15, 1, 3, nullptr, nullptr, fieldNames, &sinkBlock};

}  // namespace PerTest
