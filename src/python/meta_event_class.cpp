// The Python classes Meta and Event: read-only snapshots of a score's
// metadata and of one event, each owning its own copy.
#include "python/classes.hpp"

namespace corvane::py {

using corvane::Event;
using corvane::Meta;

namespace {

PyGetSetDef meta_properties[] = {
    property<read_field<&Meta::title>>("title"),
    property<read_field<&Meta::subtitle>>("subtitle"),
    property<read_field<&Meta::artist>>("artist"),
    property<read_field<&Meta::genre>>("genre"),
    property<read_field<&Meta::designer>>("designer"),
    property<read_field<&Meta::difficulty>>("difficulty"),
    property<read_field<&Meta::playlevel>>("playlevel"),
    property<read_field<&Meta::songid>>("songid"),
    property<read_field<&Meta::wave>>("wave"),
    property<read_field<&Meta::waveoffset>>("waveoffset"),
    property<read_field<&Meta::jacket>>("jacket"),
    property<read_field<&Meta::background>>("background"),
    property<read_field<&Meta::movie>>("movie"),
    property<read_field<&Meta::movieoffset>>("movieoffset"),
    property<read_field<&Meta::basebpm>>("basebpm"),
    {},
};

PyGetSetDef event_properties[] = {
    property<read_field<&Event::bar>>("bar"),
    property<read_field<&Event::bpm>>("bpm"),
    property<read_field<&Event::bar_length>>("bar_length"),
    property<read_field<&Event::sentence_length>>("sentence_length"),
    property<read_field<&Event::speed>>("speed"),
    property<read_field<&Event::section>>("section"),
    property<read_field<&Event::text>>("text"),
    {},
};

const ClassDef kMetaClass{"builtins.Meta", nullptr, nullptr, meta_properties, nullptr, false};
const ClassDef kEventClass{
    "builtins.Event", "Lightweight event view exposed to Python", nullptr, event_properties,
    nullptr, false,
};

}  // namespace

PyTypeObject* ClassTraits<Meta>::type() { return class_type<Meta>(kMetaClass); }
PyTypeObject* ClassTraits<Event>::type() { return class_type<Event>(kEventClass); }

}  // namespace corvane::py
