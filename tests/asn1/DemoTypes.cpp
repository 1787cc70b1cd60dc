// The constant records of the demo types, as the generator writes them.
#include "DemoTypes.h"

namespace Demo {

const char* const Mode_enum_names__[6] = {"initial", "learn", "listen", "speak=4", "standby=8", "active=16"};
const Mode::InfoType Mode::theInfo = {
    &ASN1::create_value<Mode>, 10,
    true,               // extendable
    16,                 // maxEnumValue
    Mode_enum_names__,  // names
    6};                 // numNames

const void* const Item::fieldInfos[2] = {&id_type::theInfo, &label_type::theInfo};
const int Item::fieldIds[2] = {-1, 0};
const char* const Item::fieldNames[2] = {"id", "label"};
// Root fields are made one after another in the SEQUENCE's block (an
// optional one when it is included); additions are made on their own.
namespace {
constexpr unsigned itemLabelAt = ASN1::next_place<Item::id_type>(0);
constexpr ASN1::FieldPlace itemPlaces[2] = {ASN1::place_at<Item::id_type>(0),
                                            ASN1::place_at<Item::label_type>(itemLabelAt)};
constexpr ASN1::FieldBlock itemBlock =
    ASN1::block_of(itemPlaces, ASN1::next_place<Item::label_type>(itemLabelAt));
}  // namespace
const Item::InfoType Item::theInfo = {
    &ASN1::create_value<Item>, 16,
    false,       // extendable
    fieldInfos,  //
    fieldIds,    //
    2,           // numFields
    0,           // knownExtensions
    1,           // numOptional
    nullptr,     // defaultExtensions
    nullptr,     // tags: automatic
    fieldNames,  //
    &itemBlock};

const void* const Params::fieldInfos[6] = {&slot_type::theInfo,  &name_type::theInfo,       &mode_type::theInfo,
                                           &items_type::theInfo, &gain_level_type::theInfo, &flag_type::theInfo};
const int Params::fieldIds[6] = {-1, 0, -1, 1, 0, 0};
const char* const Params::fieldNames[6] = {"slot", "name", "mode", "items", "gain-level", "flag"};
// Six slots live in the block, then the root fields one after another.
namespace {
constexpr unsigned paramsName = ASN1::next_place<Params::slot_type>(ASN1::slot_bytes(6));
constexpr unsigned paramsMode = ASN1::next_place<Params::name_type>(paramsName);
constexpr unsigned paramsItems = ASN1::next_place<Params::mode_type>(paramsMode);
constexpr ASN1::FieldPlace paramsPlaces[6] = {
    ASN1::place_at<Params::slot_type>(ASN1::slot_bytes(6)), ASN1::place_at<Params::name_type>(paramsName),
    ASN1::place_at<Params::mode_type>(paramsMode),          ASN1::place_at<Params::items_type>(paramsItems),
    ASN1::place_of<Params::gain_level_type>(),              ASN1::place_of<Params::flag_type>()};
constexpr ASN1::FieldBlock paramsBlock =
    ASN1::block_of(paramsPlaces, ASN1::next_place<Params::items_type>(paramsItems));
}  // namespace
const Params::InfoType Params::theInfo = {
    &ASN1::create_value<Params>, 16, true, fieldInfos, fieldIds, 4, 2, 2, nullptr, nullptr, fieldNames, &paramsBlock};

const void* const Command::selectionInfos[3] = {&Params::theInfo, &ASN1::Null::theInfo, &Mode::theInfo};
const char* const Command::selectionNames[3] = {"create", "destroy", "query-state"};
const Command::InfoType Command::theInfo = {
    &ASN1::create_value<Command>, 0,
    true,            // extendable
    selectionInfos,  //
    2,               // numChoices: root alternatives
    3,               // totalChoices: root plus known additions
    nullptr,         // tags: automatic
    selectionNames};

const void* const Message::fieldInfos[2] = {&seq_type::theInfo, &pdu_type::theInfo};
const int Message::fieldIds[2] = {0, -1};
const char* const Message::fieldNames[2] = {"seq", "pdu"};
namespace {
constexpr unsigned messagePduAt = ASN1::next_place<Message::seq_type>(0);
constexpr ASN1::FieldPlace messagePlaces[2] = {ASN1::place_at<Message::seq_type>(0),
                                               ASN1::place_at<Message::pdu_type>(messagePduAt)};
constexpr ASN1::FieldBlock messageBlock =
    ASN1::block_of(messagePlaces, ASN1::next_place<Message::pdu_type>(messagePduAt));
}  // namespace
const Message::InfoType Message::theInfo = {
    &ASN1::create_value<Message>, 16, false, fieldInfos, fieldIds, 2, 0, 1, nullptr, nullptr, fieldNames, &messageBlock};

const void* const Batch::fieldInfos[1] = {&items_type::theInfo};
const int Batch::fieldIds[1] = {-1};
const char* const Batch::fieldNames[1] = {"items"};
namespace {
constexpr ASN1::FieldPlace batchPlaces[1] = {ASN1::place_at<Batch::items_type>(0)};
constexpr ASN1::FieldBlock batchBlock = ASN1::block_of(batchPlaces, ASN1::next_place<Batch::items_type>(0));
}  // namespace
const Batch::InfoType Batch::theInfo = {
    &ASN1::create_value<Batch>, 16, false, fieldInfos, fieldIds, 1, 0, 0, nullptr, nullptr, fieldNames, &batchBlock};

}  // namespace Demo
