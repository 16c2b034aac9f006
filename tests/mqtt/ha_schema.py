"""Home Assistant's documented configuration keys of an MQTT switch and an
MQTT button, as a discovery message may carry them (the pages
integrations/switch.mqtt, integrations/button.mqtt and, for origin and its
abbreviations, integrations/mqtt on home-assistant.io), and a check of one
discovery message against them. Home Assistant itself cannot run here."""

STRING = (str,)


def _one_of(*values):
    return lambda value: value in values


# key: (the types allowed, required, optional test of the value)
AVAILABILITY = {"topic": (STRING, True), "payload_available": (STRING, False),
                "payload_not_available": (STRING, False), "value_template": (STRING, False)}
DEVICE = {key: (STRING, False) for key in (
    "configuration_url", "hw_version", "manufacturer", "model", "model_id", "name", "serial_number",
    "suggested_area", "sw_version", "via_device")}
DEVICE.update(identifiers=((str, list), False), connections=((list,), False))
ORIGIN = {"name": (STRING, True), "sw_version": (STRING, False), "sw": (STRING, False),
          "support_url": (STRING, False), "url": (STRING, False)}
ENTITY = {key: (STRING, False) for key in (
    "availability_template", "availability_topic", "command_template", "device_class", "encoding",
    "entity_picture", "icon", "json_attributes_template", "json_attributes_topic", "object_id",
    "payload_available", "payload_not_available", "unique_id")}
ENTITY.update({
    "command_topic": (STRING, True),
    "name": ((str, type(None)), False),
    "availability": ((list,), False),
    "availability_mode": (STRING, False, _one_of("all", "any", "latest")),
    "device": ((dict,), False),
    "origin": ((dict,), False),
    "enabled_by_default": ((bool,), False),
    "entity_category": (STRING, False, _one_of("config", "diagnostic")),
    "qos": ((int,), False, _one_of(0, 1, 2)),
    "retain": ((bool,), False),
})
SCHEMAS = {
    "switch": dict(ENTITY, **{key: (STRING, False) for key in (
        "payload_on", "payload_off", "state_on", "state_off", "state_topic", "value_template")},
                   optimistic=((bool,), False),
                   default_entity_id=(STRING, False, lambda value: value.startswith("switch."))),
    "button": dict(ENTITY, payload_press=(STRING, False),
                   default_entity_id=(STRING, False, lambda value: value.startswith("button."))),
}
NESTED = {"availability": AVAILABILITY, "device": DEVICE, "origin": ORIGIN}


def schema_faults(config, table, where=""):
    """What in a discovery message (or a part of it) breaks the table: unknown
    keys, wrong types or values, missing required keys; [] when nothing."""
    faults = ["%s%s: missing" % (where, key) for key, rule in table.items() if rule[1] and key not in config]
    for key, value in config.items():
        rule = table.get(key)
        if rule is None:
            faults.append("%s%s: not a documented key" % (where, key))
        elif not isinstance(value, rule[0]) or (isinstance(value, bool) and bool not in rule[0]):
            faults.append("%s%s: %r is not of type %s" % (where, key, value, "/".join(t.__name__ for t in rule[0])))
        elif len(rule) > 2 and not rule[2](value):
            faults.append("%s%s: %r is not an allowed value" % (where, key, value))
        elif key in NESTED:
            for index, part in enumerate(value if isinstance(value, list) else [value]):
                inner = "%s%s[%d]." % (where, key, index) if isinstance(value, list) else "%s%s." % (where, key)
                faults += schema_faults(part, NESTED[key], inner) if isinstance(part, dict) else [inner + ": not a map"]
    if "device" in config and not {"identifiers", "connections"} & set(config["device"]):
        faults.append("device: needs identifiers or connections")
    if "device" in config and "unique_id" not in config:
        faults.append("device: only works with a unique_id")
    return faults
