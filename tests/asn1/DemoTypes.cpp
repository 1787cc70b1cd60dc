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
const ASN1::FieldPlace Item::fieldPlaces[2] = {ASN1::place_at<id_type>(0), ASN1::place_of<label_type>()};
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
    fieldNames,                        //
    fieldPlaces,                       // mandatory fields at their place in the block
    ASN1::next_place<id_type>(0)};     // the block's size

const void* const Params::fieldInfos[6] = {&slot_type::theInfo,  &name_type::theInfo,       &mode_type::theInfo,
                                           &items_type::theInfo, &gain_level_type::theInfo, &flag_type::theInfo};
const int Params::fieldIds[6] = {-1, 0, -1, 1, 0, 0};
const char* const Params::fieldNames[6] = {"slot", "name", "mode", "items", "gain-level", "flag"};
// Six slots live in the block, then the mandatory fields one after another.
const ASN1::FieldPlace Params::fieldPlaces[6] = {
    ASN1::place_at<slot_type>(ASN1::slot_bytes(6)),
    ASN1::place_of<name_type>(),
    ASN1::place_at<mode_type>(ASN1::next_place<slot_type>(ASN1::slot_bytes(6))),
    ASN1::place_of<items_type>(),
    ASN1::place_of<gain_level_type>(),
    ASN1::place_of<flag_type>()};
const Params::InfoType Params::theInfo = {
    &ASN1::create_value<Params>, 16, true, fieldInfos, fieldIds, 4, 2, 2, nullptr, nullptr, fieldNames, fieldPlaces,
    ASN1::next_place<mode_type>(ASN1::next_place<slot_type>(ASN1::slot_bytes(6)))};

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
const ASN1::FieldPlace Message::fieldPlaces[2] = {ASN1::place_of<seq_type>(), ASN1::place_at<pdu_type>(0)};
const Message::InfoType Message::theInfo = {
    &ASN1::create_value<Message>, 16, false, fieldInfos, fieldIds, 2, 0, 1, nullptr, nullptr, fieldNames, fieldPlaces,
    ASN1::next_place<pdu_type>(0)};

const void* const Batch::fieldInfos[1] = {&items_type::theInfo};
const int Batch::fieldIds[1] = {-1};
const char* const Batch::fieldNames[1] = {"items"};
const ASN1::FieldPlace Batch::fieldPlaces[1] = {ASN1::place_at<items_type>(0)};
const Batch::InfoType Batch::theInfo = {
    &ASN1::create_value<Batch>, 16, false, fieldInfos, fieldIds, 1, 0, 0, nullptr, nullptr, fieldNames, fieldPlaces,
    ASN1::next_place<items_type>(0)};

}  // namespace Demo
