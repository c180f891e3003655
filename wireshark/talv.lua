-- SPDX-License-Identifier: GPL-3.0-or-later
-- talv.lua: Wireshark dissector for talvgen's two links.
--
-- Link 1 (TCP port 7005 by default): Type 4 frames, a 3-character terminal
-- ID, a length of 4 or more digits, the record type digit and the IPND
-- record (and, for type 4, the MOLI record), fields introduced by "|"; the
-- receiver's answer comes back on the same connection.
-- Link 2 (TCP port 7018 by default): Type 5 CLI_Data documents, handed to
-- Wireshark's XML dissector; the receiver's heartbeat STX "H" ETX and its
-- answer STX ACK ETX.
-- As the reference receiver does, the first bytes of a connection decide
-- what it carries ("<" opens documents, anything else frames), on either
-- port; a heuristic finds frames and documents on any other port.
-- Expert info gives what talvrecv would refuse, in talvrecv's own words.
--
-- Install: `make wireshark`, or `tshark -X lua_script:wireshark/talv.lua`.
-- The layouts below come from the C++ code (`talvrecv --wireshark-fields`);
-- the test suite fails when they disagree.

-- BEGIN LAYOUTS: written by talvrecv --wireshark-fields, do not edit
local layouts = {
    terminal_id_chars = 3,
    min_length_digits = 4,
    max_length_digits = 8,
    max_frame_body_chars = 1048576,
    max_document_bytes = 4194304,
    moli_shape_field = 2,
    moli_shape_letters = "OCAPENX",
    ipnd = {
        { name = "Job_Reference_Number", width = 7 },
        { name = "Date_Sent", width = 10 },
        { name = "Time_Sent", width = 8 },
        { name = "Service_Number", width = 20 },
        { name = "Service_Status_Code", width = 1 },
        { name = "Customer_Name_1", width = 40 },
        { name = "Customer_Name_2", width = 40 },
        { name = "Long_Name", width = 80 },
        { name = "Customer_Title", width = 12 },
        { name = "Building_Type", width = 6 },
        { name = "Building_1st_Nbr", width = 5 },
        { name = "Building_1st_Suffix", width = 1 },
        { name = "Building_2nd_Nbr", width = 5 },
        { name = "Building_2nd_Suffix", width = 1 },
        { name = "Building_Floor_Type", width = 2 },
        { name = "Building_Floor_Nbr", width = 4 },
        { name = "Building_Floor_Nbr_Suffix", width = 1 },
        { name = "Building_Property", width = 40 },
        { name = "Building_Location", width = 30 },
        { name = "Street_House_Nbr_1", width = 5 },
        { name = "Street_House_Nbr_1_Suffix", width = 3 },
        { name = "Street_House_Nbr_2", width = 5 },
        { name = "Street_House_Nbr_2_Suffix", width = 1 },
        { name = "ESO_Attempts", width = 1 },
        { name = "ESO_Contact_Choice", width = 1 },
        { name = "Lot_Suffix", width = 1 },
        { name = "Street_Name_1", width = 25 },
        { name = "Street_Type_1", width = 8 },
        { name = "Street_Suffix_1", width = 6 },
        { name = "Street_Name_2", width = 25 },
        { name = "Street_Type_2", width = 4 },
        { name = "Street_Suffix_2", width = 2 },
        { name = "Locality", width = 40 },
        { name = "District", width = 25 },
        { name = "State", width = 3 },
        { name = "Postcode", width = 4 },
        { name = "List_Code", width = 2 },
        { name = "Usage_Code", width = 1 },
        { name = "Type_of_Service", width = 5 },
        { name = "Customer_Contact_Name_1", width = 40 },
        { name = "Customer_Contact_Name_2", width = 40 },
        { name = "Customer_Contact_Nbr", width = 20 },
        { name = "Carriage_Service_Provider_Code", width = 3 },
        { name = "Data_Provider_Code", width = 6 },
        { name = "Transaction_Date", width = 19 },
        { name = "Service_Status_Date", width = 19 },
        { name = "Alternate_Address_Flag", width = 1 },
        { name = "MOLI_ABC", width = 3 },
        { name = "SMSA", width = 17 },
        { name = "State", width = 3 },
        { name = "Soft_Error_Flag", width = 1 },
        { name = "Confirm_Address_Flag", width = 1 },
    },
    moli = {
        { name = "Geodetic_Datum", width = 5 },
        { name = "Shape", width = 1 },
        { name = "Centre_X", width = 15 },
        { name = "Centre_Y", width = 15 },
        { name = "Inner_Radius", width = 6 },
        { name = "Outer_Radius", width = 6 },
        { name = "Start_Angle", width = 3 },
        { name = "Stop_Angle", width = 3 },
        { name = "Polygon_X1", width = 15 },
        { name = "Polygon_Y1", width = 15 },
        { name = "Polygon_X2", width = 15 },
        { name = "Polygon_Y2", width = 15 },
        { name = "Polygon_X3", width = 15 },
        { name = "Polygon_Y3", width = 15 },
        { name = "Polygon_X4", width = 15 },
        { name = "Polygon_Y4", width = 15 },
        { name = "Polygon_X5", width = 15 },
        { name = "Polygon_Y5", width = 15 },
        { name = "Polygon_X6", width = 15 },
        { name = "Polygon_Y6", width = 15 },
        { name = "Polygon_X7", width = 15 },
        { name = "Polygon_Y7", width = 15 },
        { name = "Polygon_X8", width = 15 },
        { name = "Polygon_Y8", width = 15 },
        { name = "Polygon_X9", width = 15 },
        { name = "Polygon_Y9", width = 15 },
        { name = "Polygon_X10", width = 15 },
        { name = "Polygon_Y10", width = 15 },
        { name = "Polygon_X11", width = 15 },
        { name = "Polygon_Y11", width = 15 },
        { name = "Polygon_X12", width = 15 },
        { name = "Polygon_Y12", width = 15 },
        { name = "Polygon_X13", width = 15 },
        { name = "Polygon_Y13", width = 15 },
        { name = "Polygon_X14", width = 15 },
        { name = "Polygon_Y14", width = 15 },
        { name = "Polygon_X15", width = 15 },
        { name = "Polygon_Y15", width = 15 },
        { name = "Polygon_X16", width = 15 },
        { name = "Polygon_Y16", width = 15 },
        { name = "Ellipse_X", width = 15 },
        { name = "Ellipse_Y", width = 15 },
        { name = "Offset_Angle", width = 3 },
        { name = "SemiMajor_Length", width = 6 },
        { name = "SemiMinor_Length", width = 6 },
        { name = "ESO_Name", width = 40 },
    },
    aml_root = "CLI_Data",
    aml_document_end = "</CLI_Data>",
    aml = {
        { name = "ESAP_Data", elements = {
            { name = "Job_Reference_Number", form = "text" },
            { name = "Date_Sent", form = "date" },
            { name = "Time_Sent", form = "time" },
            { name = "ESO_Name", form = "text" },
            { name = "ESAP_Terminal_Service_Number", form = "text" },
        } },
        { name = "Customer_Service_Data", elements = {
            { name = "Service_Number", form = "text" },
            { name = "Service_Status_Code", form = "text" },
            { name = "Customer_Name_1", form = "text" },
            { name = "Customer_Name_2", form = "text" },
            { name = "Long_Name", form = "text" },
            { name = "Customer_Title", form = "text" },
            { name = "Building_Type", form = "text" },
            { name = "Building_1st_Nbr", form = "text" },
            { name = "Building_1st_Suffix", form = "text" },
            { name = "Building_2nd_Nbr", form = "text" },
            { name = "Building_2nd_Suffix", form = "text" },
            { name = "Building_Floor_Type", form = "text" },
            { name = "Building_Floor_Nbr", form = "text" },
            { name = "Building_Floor_Nbr_Suffix", form = "text" },
            { name = "Building_Property", form = "text" },
            { name = "Building_Location", form = "text" },
            { name = "Street_House_Nbr_1", form = "text" },
            { name = "Street_House_Nbr_1_Suffix", form = "text" },
            { name = "Street_House_Nbr_2", form = "text" },
            { name = "Street_House_Nbr_2_Suffix", form = "text" },
            { name = "ESO_Attempts", form = "text" },
            { name = "ESO_Contact_Choice", form = "text" },
            { name = "Lot_Suffix", form = "text" },
            { name = "Street_Name_1", form = "text" },
            { name = "Street_Type_1", form = "text" },
            { name = "Street_Suffix_1", form = "text" },
            { name = "Street_Name_2", form = "text" },
            { name = "Street_Type_2", form = "text" },
            { name = "Street_Suffix_2", form = "text" },
            { name = "Locality", form = "text" },
            { name = "District", form = "text" },
            { name = "State", form = "text" },
            { name = "Postcode", form = "text" },
            { name = "List_Code", form = "text" },
            { name = "Usage_Code", form = "text" },
            { name = "Type_of_Service", form = "text" },
            { name = "Customer_Contact_Name_1", form = "text" },
            { name = "Customer_Contact_Name_2", form = "text" },
            { name = "Customer_Contact_Nbr", form = "text" },
            { name = "Carriage_Service_Provider_Code", form = "text" },
            { name = "Data_Provider_Code", form = "text" },
            { name = "Transaction_Date", form = "datetime" },
            { name = "Service_Status_Date", form = "datetime" },
            { name = "Alternate_Address_Flag", form = "text" },
            { name = "Soft_Error_Flag", form = "text" },
            { name = "Confirm_Address_Flag", form = "text" },
            { name = "Class_of_Service", form = "text" },
        } },
        { name = "SMSA_Data", elements = {
            { name = "MOLI_ABC", form = "text" },
            { name = "SMSA", form = "text" },
            { name = "State", form = "text" },
        } },
        { name = "Push_MoLI_Data", elements = {
            { name = "Geodetic_Datum", form = "text" },
            { name = "Shape", form = "text" },
            { name = "Centre_X", form = "text" },
            { name = "Centre_Y", form = "text" },
            { name = "Inner_Radius", form = "text" },
            { name = "Outer_Radius", form = "text" },
            { name = "Start_Angle", form = "text" },
            { name = "Stop_Angle", form = "text" },
            { name = "Polygon_X1", form = "text" },
            { name = "Polygon_Y1", form = "text" },
            { name = "Polygon_X2", form = "text" },
            { name = "Polygon_Y2", form = "text" },
            { name = "Polygon_X3", form = "text" },
            { name = "Polygon_Y3", form = "text" },
            { name = "Polygon_X4", form = "text" },
            { name = "Polygon_Y4", form = "text" },
            { name = "Polygon_X5", form = "text" },
            { name = "Polygon_Y5", form = "text" },
            { name = "Polygon_X6", form = "text" },
            { name = "Polygon_Y6", form = "text" },
            { name = "Polygon_X7", form = "text" },
            { name = "Polygon_Y7", form = "text" },
            { name = "Polygon_X8", form = "text" },
            { name = "Polygon_Y8", form = "text" },
            { name = "Polygon_X9", form = "text" },
            { name = "Polygon_Y9", form = "text" },
            { name = "Polygon_X10", form = "text" },
            { name = "Polygon_Y10", form = "text" },
            { name = "Polygon_X11", form = "text" },
            { name = "Polygon_Y11", form = "text" },
            { name = "Polygon_X12", form = "text" },
            { name = "Polygon_Y12", form = "text" },
            { name = "Polygon_X13", form = "text" },
            { name = "Polygon_Y13", form = "text" },
            { name = "Polygon_X14", form = "text" },
            { name = "Polygon_Y14", form = "text" },
            { name = "Polygon_X15", form = "text" },
            { name = "Polygon_Y15", form = "text" },
            { name = "Polygon_X16", form = "text" },
            { name = "Polygon_Y16", form = "text" },
            { name = "Offset_Angle", form = "text" },
            { name = "SemiMajor_Length", form = "text" },
            { name = "SemiMinor_Length", form = "text" },
        } },
        { name = "AML_Data", elements = {
            { name = "AML_Header", form = "text" },
            { name = "AML_Latitude", form = "text" },
            { name = "AML_Longitude", form = "text" },
            { name = "AML_Radius", form = "text" },
            { name = "AML_Time_of_Positioning_TOP", form = "datetime" },
            { name = "AML_Level_of_Confidence_LOC", form = "text" },
            { name = "AML_Positioning_Method", form = "text" },
            { name = "International_Mobile_Subscriber_Identity_IMSI", form = "text" },
            { name = "International_Mobile_Equipment_Identity_IMEI", form = "text" },
            { name = "Mobile_Country_Code_MCC", form = "text" },
            { name = "Mobile_Network_Code_MNC", form = "text" },
        } },
    },
    heartbeat = "\002H\003",
    heartbeat_answer = "\002\006\003",
}
-- END LAYOUTS

local talv = Proto("talv", "talvgen links: Type 4 frames, Type 5 documents, heartbeats")

-- Fields ---------------------------------------------------------------------

local hf = {
    t4 = ProtoField.none("talv.t4", "Type 4 frame"),
    term_id = ProtoField.string("talv.t4.term_id", "Terminal ID"),
    length = ProtoField.uint32("talv.t4.length", "Length", base.DEC),
    length_text = ProtoField.string("talv.t4.length_text", "Length as written"),
    rectype = ProtoField.uint8("talv.t4.type", "Record type", base.DEC,
        { [3] = "IPND record", [4] = "IPND record and MOLI record" }),
    fields = ProtoField.string("talv.t4.fields", "Fields"),
    ipnd = ProtoField.none("talv.ipnd", "IPND record"),
    moli = ProtoField.none("talv.moli", "MOLI record"),
    extra = ProtoField.string("talv.t4.extra_field", "Field beyond the layout"),
    garbage = ProtoField.bytes("talv.garbage", "Bytes that cannot start a frame"),
    dropped = ProtoField.bytes("talv.after_drop", "Bytes after the receiver dropped the connection"),
    incomplete = ProtoField.bytes("talv.incomplete", "Incomplete frame or document"),
    t5 = ProtoField.none("talv.t5", "Type 5 document"),
    t5_lines = ProtoField.uint32("talv.t5.lines", "Lines", base.DEC),
    t5_bytes = ProtoField.uint32("talv.t5.bytes", "Bytes", base.DEC),
    heartbeat = ProtoField.uint8("talv.heartbeat", "Heartbeat", base.HEX,
        { [0x48] = "heartbeat (STX H ETX)", [0x06] = "heartbeat answer (STX ACK ETX)" }),
    answer = ProtoField.string("talv.answer", "Receiver's answer"),
    verdict = ProtoField.string("talv.verdict", "Verdict"),
    summary = ProtoField.string("talv.summary", "As talvrecv reports it"),
}

-- One field per name: "State" names two IPND positions, so a filter on
-- talv.ipnd.State sees both.
local ipnd_hf, moli_hf = {}, {}
local function record_fields(prefix, layout, by_name)
    local list = {}
    for i, field in ipairs(layout) do
        if not by_name[field.name] then
            by_name[field.name] = ProtoField.string(prefix .. field.name, field.name)
            hf[prefix .. field.name] = by_name[field.name]
        end
        list[i] = by_name[field.name]
    end
    return list
end
local ipnd_list = record_fields("talv.ipnd.", layouts.ipnd, ipnd_hf)
local moli_list = record_fields("talv.moli.", layouts.moli, moli_hf)

local hf_array = {}
for _, field in pairs(hf) do hf_array[#hf_array + 1] = field end
talv.fields = hf_array

local ef_invalid = ProtoExpert.new("talv.invalid.expert", "Refused by the receiver",
    expert.group.MALFORMED, expert.severity.ERROR)
talv.experts = { ef_invalid }

-- Preferences ----------------------------------------------------------------

talv.prefs.type4_port = Pref.uint("Type 4 port", 7005, "TCP port of link 1 (Type 4 frames)")
talv.prefs.type5_port = Pref.uint("Type 5 port", 7018, "TCP port of link 2 (Type 5 documents)")

local tcp_table = DissectorTable.get("tcp.port")
local registered_ports = {}
local function register_ports()
    for _, port in ipairs(registered_ports) do tcp_table:remove(port, talv) end
    registered_ports = { talv.prefs.type4_port, talv.prefs.type5_port }
    for _, port in ipairs(registered_ports) do tcp_table:add(port, talv) end
end
talv.prefs_changed = register_ports

-- Per connection: the receiver's port, and what the sender's bytes carry.
local streams = {}
function talv.init() streams = {} end

local tcp_fin = Field.new("tcp.flags.fin")
local tcp_reset = Field.new("tcp.flags.reset")
local xml = Dissector.get("xml")

-- Type 4 frames --------------------------------------------------------------

local function is_digit(byte) return byte and byte >= 48 and byte <= 57 end

-- The frame header at the start of bytes: "more", or "garbage" and a
-- reason, or "frame", the length and where the body starts (1-based).
local function read_header(bytes)
    local run_start = layouts.terminal_id_chars + 1
    local max_run = layouts.max_length_digits + 1
    local run_end = run_start
    while run_end <= #bytes and is_digit(bytes:byte(run_end)) and run_end - run_start <= max_run do
        run_end = run_end + 1
    end
    local run = run_end - run_start
    if run > max_run then
        return "garbage", string.format("length field is longer than %d digits",
            layouts.max_length_digits)
    end
    if run_end > #bytes then return "more" end
    if bytes:sub(run_end, run_end) ~= "|" or run < layouts.min_length_digits + 1 then
        return "garbage", string.format('no length of at least %d digits, type digit and "|" '
            .. "after the terminal ID", layouts.min_length_digits)
    end
    local digits = bytes:sub(run_start, run_end - 2)
    if #digits > layouts.min_length_digits and digits:sub(1, 1) == "0" then
        return "garbage", string.format("length field %s has a leading zero beyond four digits",
            digits)
    end
    local length = tonumber(digits)
    if length < 2 then
        return "garbage", string.format('length %d cannot hold a type digit and "|"', length)
    end
    return "frame", length, run_end - 1
end

local function length_text(length)
    local text = tostring(length)
    return string.rep("0", layouts.min_length_digits - #text) .. text
end

local function split_fields(record)
    -- record starts with "|"; returns each field's text and 1-based start.
    local values, starts = {}, {}
    local pos = 2
    while true do
        local bar = record:find("|", pos, true)
        values[#values + 1] = record:sub(pos, (bar or #record + 1) - 1)
        starts[#starts + 1] = pos
        if not bar then break end
        pos = bar + 1
    end
    return values, starts
end

local function check_widths(values, first, layout, prefix)
    for i, field in ipairs(layout) do
        local width = #values[first + i - 1]
        if width > field.width then
            return string.format("%sfield %d %s is %d wide, at most %d", prefix, i, field.name,
                width, field.width)
        end
    end
end

-- What each MOLI shape letter stands for: the records of the window's shape buttons, and X,
-- the record the Max button sends, with the fields of every shape filled.
local moli_shape_meanings = {
    O = "point", C = "circular", A = "circular arc", P = "polygon", E = "ellipsoid",
    N = "none", X = "all shapes",
}

local function shape_meaning(shape)
    if shape == "" then return "empty" end
    return moli_shape_meanings[shape] or "unknown shape"
end

local function check_shape(shape)
    if shape == "" then return "MOLI shape is empty" end
    if layouts.moli_shape_letters:find(shape:sub(1, 1), 1, true) then return nil end
    local letters = {}
    for letter in layouts.moli_shape_letters:gmatch(".") do letters[#letters + 1] = letter end
    return string.format('MOLI shape "%s" is not one of %s', shape, table.concat(letters, ", "))
end

-- The receiver's checks of a body: nil when it passes, else the reason.
local function check_body(body, values)
    local ipnd, moli = #layouts.ipnd, #layouts.moli
    local kind = body:sub(1, 1)
    if kind ~= "3" and kind ~= "4" then
        return string.format('type digit "%s" is not 3 or 4', kind)
    end
    if body:sub(2, 2) ~= "|" then return 'record does not start with "|"' end
    local count = #values
    if kind == "3" and count ~= ipnd then
        return string.format("type 3 with %d fields, expected %d", count, ipnd)
    end
    if kind == "4" and count == ipnd then return "type 4 without MOLI record" end
    if kind == "4" and count ~= ipnd + moli then
        return string.format("type 4 with %d fields, expected %d IPND and %d MOLI", count, ipnd,
            moli)
    end
    local reason = check_widths(values, 1, layouts.ipnd, "")
    if not reason and kind == "4" then
        reason = check_widths(values, ipnd + 1, layouts.moli, "MOLI ")
            or check_shape(values[ipnd + layouts.moli_shape_field])
    end
    return reason
end

local function verdict_text(reason)
    if reason then return "INVALID: " .. reason end
    return "OK"
end

local function add_verdict(tree, range, reason)
    tree:add(hf.verdict, range, verdict_text(reason))
    if reason then tree:add_proto_expert_info(ef_invalid, "INVALID: " .. reason) end
end

local function add_record(tree, tvb, body_at, values, starts, from, to, layout, list, label)
    local count = math.min(to, #values) - from + 1
    if count <= 0 then return end
    local first = body_at + starts[from] - 2 -- the "|" opening the first field
    local last = body_at + starts[from + count - 1] - 1 + #values[from + count - 1]
    local sub = tree:add(label, tvb(first, last - first))
    sub:append_text(string.format(" (%d fields)", count))
    for i = from, from + count - 1 do
        local at = body_at + starts[i] - 2
        local position = i - from + 1
        local item
        if layout[position] then
            item = sub:add(list[position], tvb(at, #values[i] + 1), values[i])
        else
            item = sub:add(hf.extra, tvb(at, #values[i] + 1), values[i])
        end
        if layout == layouts.moli and position == layouts.moli_shape_field then
            item:append_text(" (" .. shape_meaning(values[i]) .. ")")
        end
        item:append_text(string.format(" [field %d]", position))
    end
end

-- One whole frame at offset of tvb (0-based), size bytes.
local function dissect_frame(tvb, pinfo, tree, offset, size, length, body_start)
    local bytes = tvb:raw(offset, size)
    local body = bytes:sub(body_start)
    local record = body:sub(2)
    local values, starts = {}, {}
    if record:sub(1, 1) == "|" then values, starts = split_fields(record) end
    local reason = check_body(body, values)
    local ipnd = #layouts.ipnd
    -- As the receiver counts them: none when the type digit is refused.
    local counted = (body:sub(1, 1) == "3" or body:sub(1, 1) == "4") and #values or 0
    local ipnd_count = math.min(counted, ipnd)
    local moli_count = math.max(counted - ipnd, 0)
    local fields = tostring(ipnd_count)
    if moli_count > 0 then fields = fields .. "+" .. moli_count end
    local term = bytes:sub(1, layouts.terminal_id_chars)
    local summary = string.format("term %s len %s type %s fields %s %s", term,
        length_text(length), body:sub(1, 1), fields, verdict_text(reason))

    local frame = tree:add(hf.t4, tvb(offset, size))
    frame:append_text(", " .. summary)
    frame:add(hf.summary, tvb(offset, size), summary)
    frame:add(hf.term_id, tvb(offset, layouts.terminal_id_chars))
    local digits_at = offset + layouts.terminal_id_chars
    local digits = body_start - 1 - layouts.terminal_id_chars
    frame:add(hf.length, tvb(digits_at, digits), length)
    frame:add(hf.length_text, tvb(digits_at, digits), bytes:sub(layouts.terminal_id_chars + 1,
        body_start - 1))
    frame:add(hf.rectype, tvb(offset + body_start - 1, 1), tonumber(body:sub(1, 1)) or 0)
    frame:add(hf.fields, tvb(offset + body_start - 1, length), fields)
    local record_at = offset + body_start -- 0-based offset of the record
    add_record(frame, tvb, record_at, values, starts, 1, ipnd, layouts.ipnd, ipnd_list, hf.ipnd)
    if body:sub(1, 1) == "4" then
        add_record(frame, tvb, record_at, values, starts, ipnd + 1, #values, layouts.moli,
            moli_list, hf.moli)
    elseif #values > ipnd then
        add_record(frame, tvb, record_at, values, starts, ipnd + 1, #values, {}, {}, hf.ipnd)
    end
    add_verdict(frame, tvb(offset, size), reason)
    return "T4 " .. summary
end

-- Set when the bytes being dissected made the receiver drop the connection.
local dropped_here = false

-- Bytes the receiver drops the connection for; everything to the end.
local function dissect_broken(tvb, tree, offset, reason, what)
    dropped_here = true
    local item = tree:add(hf.garbage, tvb(offset))
    item:add(hf.summary, tvb(offset), what .. " " .. verdict_text(reason))
    add_verdict(item, tvb(offset), reason)
    return string.format("T4 %s INVALID: %s", what, reason)
end

-- Frames from offset on; returns what the Info column shows and, when a
-- frame is not complete, the bytes still missing (or the one-more-segment
-- marker).
local function dissect_frames(tvb, pinfo, tree, offset, infos)
    while offset < tvb:len() do
        local rest = tvb:raw(offset)
        local result, length, body_start = read_header(rest)
        if result == "more" then
            return offset, DESEGMENT_ONE_MORE_SEGMENT
        elseif result == "garbage" then
            infos[#infos + 1] = dissect_broken(tvb, tree, offset, length, "garbage")
            return tvb:len()
        elseif length > layouts.max_frame_body_chars then
            infos[#infos + 1] = dissect_broken(tvb, tree, offset, string.format(
                "frame too long, the limit is %d characters", layouts.max_frame_body_chars),
                string.format("term %s len %s", rest:sub(1, layouts.terminal_id_chars),
                    length_text(length)))
            return tvb:len()
        end
        local size = body_start - 1 + length
        if #rest < size then return offset, DESEGMENT_ONE_MORE_SEGMENT end
        infos[#infos + 1] = dissect_frame(tvb, pinfo, tree, offset, size, length, body_start)
        offset = offset + size
    end
    return offset
end

-- Type 5 documents -----------------------------------------------------------

local function xml_decode(text)
    local named = { lt = "<", gt = ">", amp = "&", apos = "'", quot = '"' }
    return (text:gsub("&(#?x?)(%w+);", function(kind, name)
        if kind == "" then return named[name] end
        local code = tonumber(name, kind == "#x" and 16 or 10)
        if code and code < 256 then return string.char(code) end
    end))
end

-- Reads the document as the receiver's XML reader does, item by item:
-- {kind = "start"|"end"|"text"|"skip"|"broken", name, text, attrs, line, column}.
local function xml_items(document)
    local items, pos, line, line_start = {}, 1, 1, 1
    local function advance(to)
        local chunk = document:sub(pos, to - 1)
        for nl in chunk:gmatch("()\n") do
            line = line + 1
            line_start = pos + nl
        end
        pos = to
    end
    local open = {}
    while pos <= #document do
        if document:sub(pos, pos) ~= "<" then
            local next_tag = document:find("<", pos, true) or #document + 1
            items[#items + 1] = { kind = "text", text = xml_decode(document:sub(pos, next_tag - 1)) }
            advance(next_tag)
        elseif document:sub(pos, pos + 3) == "<!--" then
            local close = document:find("-->", pos + 4, true)
            if not close then return items end
            items[#items + 1] = { kind = "skip" }
            advance(close + 3)
        elseif document:sub(pos, pos + 1) == "<?" then
            local close = document:find("?>", pos + 2, true)
            if not close then return items end
            items[#items + 1] = { kind = "skip" }
            advance(close + 2)
        else
            local close = document:find(">", pos, true)
            if not close then return items end
            local tag = document:sub(pos + 1, close - 1)
            local name = tag:match("^/?([%w_:%.%-]+)")
            if tag:sub(1, 1) == "/" then
                local expected = table.remove(open)
                advance(close + 1)
                if name ~= expected then
                    items[#items + 1] = { kind = "broken", line = line,
                        column = pos - line_start, message = "Opening and ending tag mismatch." }
                    return items
                end
                items[#items + 1] = { kind = "end", name = name }
            else
                local empty = tag:sub(-1) == "/"
                local attrs = tag:sub(#name + 2):gsub("/$", ""):match("%S") ~= nil
                items[#items + 1] = { kind = "start", name = name, attrs = attrs }
                open[#open + 1] = name
                advance(close + 1)
                if empty then
                    items[#items + 1] = { kind = "end", name = table.remove(open) }
                end
            end
        end
    end
    return items
end

local function is_leap(year) return (year % 4 == 0 and year % 100 ~= 0) or year % 400 == 0 end

local function is_date(value)
    local y, m, d = value:match("^(%d%d%d%d)%-(%d%d)%-(%d%d)$")
    if not y then return false end
    y, m, d = tonumber(y), tonumber(m), tonumber(d)
    local days = { 31, is_leap(y) and 29 or 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 }
    return y ~= 0 and m >= 1 and m <= 12 and d >= 1 and d <= days[m]
end

local function is_time(value)
    local h, m, s = value:match("^(%d%d):(%d%d):(%d%d)$")
    return h ~= nil and tonumber(h) < 24 and tonumber(m) < 60 and tonumber(s) < 60
end

local function form_error(element, value)
    if value == "" or element.form == "text" then return nil end
    local ok, expected
    if element.form == "date" then
        ok, expected = is_date(value), "a date yyyy-mm-dd"
    elseif element.form == "time" then
        ok, expected = is_time(value), "a time hh:mm:ss"
    else
        ok = #value == 19 and value:sub(11, 11) == " " and is_date(value:sub(1, 10))
            and is_time(value:sub(12))
        expected = "a date-time yyyy-mm-dd hh:mm:ss"
    end
    if ok then return nil end
    return string.format("%s '%s' is not %s", element.name, value, expected)
end

local function trim(text) return (text:gsub("^%s+", ""):gsub("%s+$", "")) end
local function is_space(text) return text:match("^%s*$") ~= nil end

-- The receiver's checks of a document: nil when it passes, else the reason.
local function check_document(document)
    local items = xml_items(document)
    local i = 0
    local function broken(item)
        return string.format("broken XML at line %d, column %d: %s", item.line, item.column + 1,
            item.message)
    end
    -- The next child of parent: "start" or "end" and the item, or nil and a reason.
    local function next_child(parent)
        while true do
            i = i + 1
            local item = items[i]
            if not item then return nil, "broken XML: the document ends inside " .. parent end
            if item.kind == "broken" then return nil, broken(item) end
            if item.kind == "start" then
                if item.attrs then return nil, item.name .. " has attributes" end
                return "start", item
            end
            if item.kind == "end" then return "end", item end
            if item.kind == "text" and not is_space(item.text) then
                return nil, string.format("text '%s' in %s outside any element", trim(item.text),
                    parent)
            end
        end
    end
    local function mismatch(kind, position, parent, name, expected)
        return string.format("%s %d of %s is %s, expected %s", kind, position, parent, name,
            expected or ("the end of " .. parent))
    end
    -- Root.
    repeat
        i = i + 1
        local item = items[i]
        if not item then return "broken XML: no root element" end
        if item.kind == "broken" then return broken(item) end
        if item.kind == "text" and not is_space(item.text) then
            return "text before the root element"
        end
    until item.kind == "start"
    local root = layouts.aml_root
    if items[i].name ~= root then
        return string.format("root element is %s, expected %s", items[i].name, root)
    end
    for g, group in ipairs(layouts.aml) do
        local step, item = next_child(root)
        if not step then return item end
        if step == "end" then
            return string.format("%s ends after %d groups, expected %s", root, g - 1, group.name)
        end
        if item.name ~= group.name then return mismatch("group", g, root, item.name, group.name) end
        for e, element in ipairs(group.elements) do
            step, item = next_child(group.name)
            if not step then return item end
            if step == "end" then
                return string.format("%s ends after %d elements, expected %s", group.name, e - 1,
                    element.name)
            end
            if item.name ~= element.name then
                return mismatch("element", e, group.name, item.name, element.name)
            end
            -- The leaf's text up to its end tag.
            local value = {}
            while true do
                i = i + 1
                local leaf = items[i]
                if leaf.kind == "broken" then return broken(leaf) end
                if leaf.kind == "start" then
                    return element.name .. " holds markup, expected plain text"
                end
                if leaf.kind == "end" then break end
                if leaf.kind == "text" then value[#value + 1] = leaf.text end
            end
            local reason = form_error(element, table.concat(value))
            if reason then return reason end
        end
        step, item = next_child(group.name)
        if not step then return item end
        if step == "start" then
            return mismatch("element", #group.elements + 1, group.name, item.name)
        end
    end
    local step, item = next_child(root)
    if not step then return item end
    if step == "start" then return mismatch("group", #layouts.aml + 1, root, item.name) end
    return nil
end

local function add_heartbeat(tree, range, byte)
    tree:add(hf.heartbeat, range, byte)
end

-- Documents from offset on, with heartbeat answers before, between or
-- inside them.
local function dissect_documents(tvb, pinfo, tree, offset, infos)
    local answer = layouts.heartbeat_answer
    local stop = layouts.aml_document_end
    while offset < tvb:len() do
        local rest = tvb:raw(offset)
        if rest:sub(1, #answer) == answer then
            add_heartbeat(tree, tvb(offset, #answer), answer:byte(2))
            infos[#infos + 1] = "T5 heartbeat answer"
            offset = offset + #answer
        elseif #rest < #answer and answer:sub(1, #rest) == rest then
            return offset, DESEGMENT_ONE_MORE_SEGMENT
        else
            local found = rest:find(stop, 1, true)
            if not found then
                if #rest > layouts.max_document_bytes then
                    infos[#infos + 1] = dissect_broken(tvb, tree, offset, string.format(
                        "document too long, no %s within %d bytes", stop,
                        layouts.max_document_bytes), string.format("document %d bytes", #rest))
                    return tvb:len()
                end
                return offset, DESEGMENT_ONE_MORE_SEGMENT
            end
            local size = found + #stop - 1
            local raw = rest:sub(1, size)
            local item = tree:add(hf.t5, tvb(offset, size))
            -- Answers inside a document are taken out before it is read.
            local document, from = {}, 1
            while true do
                local at = raw:find(answer, from, true)
                if not at then break end
                document[#document + 1] = raw:sub(from, at - 1)
                add_heartbeat(tree, tvb(offset + at - 1, #answer), answer:byte(2))
                infos[#infos + 1] = "T5 heartbeat answer"
                from = at + #answer
            end
            document[#document + 1] = raw:sub(from)
            document = table.concat(document)
            local _, newlines = document:gsub("\n", "")
            local reason = check_document(document)
            local summary = string.format("document %d lines %d bytes %s", newlines + 1, #document,
                verdict_text(reason))
            item:append_text(", " .. summary)
            item:add(hf.summary, tvb(offset, size), summary)
            item:add(hf.t5_lines, tvb(offset, size), newlines + 1)
            item:add(hf.t5_bytes, tvb(offset, size), #document)
            add_verdict(item, tvb(offset, size), reason)
            infos[#infos + 1] = "T5 " .. summary
            local xml_tvb
            if #document == size then
                xml_tvb = tvb(offset, size):tvb()
            else
                xml_tvb = ByteArray.new(document, true):tvb("Type 5 document")
            end
            pcall(function() xml:call(xml_tvb, pinfo, item) end)
            offset = offset + size
        end
    end
    return offset
end

-- The receiver's side: heartbeats and answers --------------------------------

local function dissect_receiver(tvb, tree, stream, infos)
    local bytes = tvb:raw()
    local beat = layouts.heartbeat
    local pos = 1
    while pos <= #bytes do
        if stream.kind ~= 4 and bytes:sub(pos, pos + #beat - 1) == beat then
            add_heartbeat(tree, tvb(pos - 1, #beat), beat:byte(2))
            infos[#infos + 1] = "heartbeat"
            pos = pos + #beat
        else
            local stop = #bytes + 1
            if stream.kind ~= 4 then stop = bytes:find(beat, pos, true) or stop end
            local text = bytes:sub(pos, stop - 1)
            tree:add(hf.answer, tvb(pos - 1, #text), text)
            infos[#infos + 1] = "answer " .. text:gsub("%c", function(c)
                return string.format("<%02X>", c:byte())
            end)
            pos = stop
        end
    end
    return #bytes
end

-- Incomplete at the end -------------------------------------------------------

-- What the receiver says of bytes still waiting for the rest of their
-- frame or document when the connection ends.
local function incomplete_report(stream)
    local all = stream.partial
    if stream.kind == 4 then
        local result, length, body_start = read_header(all)
        local reason = "frame is incomplete"
        if result == "frame" then
            reason = string.format("length %d, but the body has %d characters", length,
                #all - body_start + 1)
        end
        return { side = "T4", text = string.format("incomplete frame %d bytes", #all),
            reason = reason }
    end
    return { side = "T5", text = string.format("incomplete document %d bytes", #all),
        reason = "connection ended before " .. layouts.aml_document_end }
end

-- Wireshark keeps such bytes as "segment of a reassembled PDU" and never
-- hands them over; the packet that ends the connection (FIN or RST) shows
-- them, as the receiver reports them when the connection ends.
local function note_partial(tvb, pinfo, stream, offset)
    if not pinfo.visited then stream.partial = tvb:raw(offset) end
end

-- Entry points ---------------------------------------------------------------

-- A connection by its two ends, the same for both directions; field
-- extractors are empty while Wireshark builds no tree.
local function stream_key(pinfo)
    local a = tostring(pinfo.src) .. ":" .. pinfo.src_port
    local b = tostring(pinfo.dst) .. ":" .. pinfo.dst_port
    if a < b then return a .. " " .. b end
    return b .. " " .. a
end

local function stream_state(pinfo)
    local id = stream_key(pinfo)
    local state = streams[id]
    if not state then
        state = {}
        streams[id] = state
    end
    return state
end

local function own_port(port)
    return port == talv.prefs.type4_port or port == talv.prefs.type5_port
end

-- What only the sender's side opens with: a frame header, a document, a
-- heartbeat answer.
local function sender_bytes(tvb)
    local bytes = tvb:raw(0, math.min(tvb:len(), 256))
    local answer = layouts.heartbeat_answer
    return read_header(bytes) == "frame" or bytes:sub(1, #answer) == answer
        or (bytes:sub(1, 1) == "<" and bytes:find("<" .. layouts.aml_root .. ">", 1, true) ~= nil)
end

-- The receiver's port: one of the preferences' ports, or else (Decode As,
-- the heuristic) the port the sender's bytes went to.
local function receiver_port(tvb, pinfo)
    if own_port(pinfo.dst_port) then return pinfo.dst_port end
    if own_port(pinfo.src_port) then return pinfo.src_port end
    if sender_bytes(tvb) then return pinfo.dst_port end
    return pinfo.src_port
end

function talv.dissector(tvb, pinfo, tree)
    local stream = stream_state(pinfo)
    stream.receiver_port = stream.receiver_port or receiver_port(tvb, pinfo)
    pinfo.cols.protocol = "TALV"
    local root = tree:add(talv, tvb())
    local infos = {}
    local consumed, missing
    dropped_here = false
    if stream.dropped_at and pinfo.number > stream.dropped_at
        and pinfo.dst_port == stream.receiver_port then
        -- The receiver never reads these: it reset the connection.
        root:add(hf.dropped, tvb())
        pinfo.cols.info = "bytes after the receiver dropped the connection"
        return tvb:len()
    elseif pinfo.dst_port ~= stream.receiver_port then
        consumed = dissect_receiver(tvb, root, stream, infos)
    else
        if not stream.kind then
            local answer = layouts.heartbeat_answer
            local rest = tvb:raw()
            while rest:sub(1, #answer) == answer do rest = rest:sub(#answer + 1) end
            if rest ~= "" and answer:sub(1, #rest) ~= rest then
                stream.kind = rest:sub(1, 1) == "<" and 5 or 4
            end
        end
        if stream.kind == 4 then
            consumed, missing = dissect_frames(tvb, pinfo, root, 0, infos)
        else
            consumed, missing = dissect_documents(tvb, pinfo, root, 0, infos)
        end
    end
    if dropped_here and not pinfo.visited then stream.dropped_at = pinfo.number end
    if missing then
        note_partial(tvb, pinfo, stream, consumed)
    elseif not pinfo.visited then
        stream.partial = nil
    end
    pinfo.cols.protocol = "TALV"
    if #infos > 0 then pinfo.cols.info = table.concat(infos, "; ") end
    if missing then
        pinfo.desegment_offset = consumed
        pinfo.desegment_len = missing
    end
    return tvb:len()
end

-- Ends of connections, for what was left incomplete: a postdissector sees
-- the FIN or RST that no data dissector is called for.
local talv_end = Proto("talv_end", "talvgen links: connection ends")
function talv_end.dissector(tvb, pinfo, tree)
    if next(streams) == nil then return end -- no talv traffic at all
    local stream = streams[stream_key(pinfo)]
    if not stream then return end
    -- The first FIN or RST seen with its flags: in the first pass, or in the
    -- second when the first built no tree (tshark -2).
    -- An undecided connection holds at most a piece of a heartbeat answer,
    -- which the receiver does not report.
    if stream.partial and stream.kind and not stream.end_frame then
        local fin, reset = tcp_fin(), tcp_reset()
        if (fin and fin.value) or (reset and reset.value) then
            stream.end_frame = pinfo.number
            stream.end_report = incomplete_report(stream)
            stream.end_report.bytes = stream.partial
        end
    end
    if stream.end_frame ~= pinfo.number then return end
    local report = stream.end_report
    local root = tree:add(talv, tvb(0, 0))
    local item = root:add(hf.incomplete, report.bytes)
    item:set_generated()
    item:add(hf.summary, report.text .. " " .. verdict_text(report.reason))
    item:add(hf.verdict, verdict_text(report.reason))
    item:add_proto_expert_info(ef_invalid, "INVALID: " .. report.reason)
    pinfo.cols.protocol = "TALV"
    pinfo.cols.info = string.format("%s %s INVALID: %s", report.side, report.text, report.reason)
end
register_postdissector(talv_end)

-- Frames and documents on any port: a whole frame header, or a CLI_Data
-- document opening.
local function heuristic(tvb, pinfo, tree)
    if not sender_bytes(tvb) then return false end
    local stream = stream_state(pinfo)
    stream.receiver_port = pinfo.dst_port
    pinfo.conversation = talv
    talv.dissector(tvb, pinfo, tree)
    return true
end

talv:register_heuristic("tcp", heuristic)
register_ports()
