// load_knxproj_json: imports an ETS project file and renders it as one compact JSON object.
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "project/project.hpp"
#include "python/errors.hpp"
#include "python/module.hpp"

namespace tavrel::python {
namespace {

// The records below own their texts, moved out of the imported project, and are written member by
// member in declaration order.

struct KnxprojGroupAddressDto {
    std::string address;
    std::optional<std::string> name;
    std::optional<std::string> dpt;
};

struct KnxprojDeviceDto {
    std::string address;
    std::optional<std::string> name;
};

struct KnxprojTopologyLineDto {
    unsigned address;
    std::optional<std::string> name;
    std::vector<KnxprojDeviceDto> devices;
};

struct KnxprojTopologyAreaDto {
    unsigned address;
    std::optional<std::string> name;
    std::vector<KnxprojTopologyLineDto> lines;
};

struct KnxprojWarningDto {
    std::string_view type;
    std::string_view key;  // "value" for unreadable texts, "address" for addresses
    std::string value;
};

struct KnxprojDto {
    std::vector<KnxprojGroupAddressDto> group_addresses;
    std::vector<KnxprojTopologyAreaDto> topology;
    std::vector<KnxprojWarningDto> warnings;
};

KnxprojWarningDto warning_dto(project::ImportWarning& warning) {
    using Kind = project::ImportWarning::Kind;
    switch (warning.kind) {
        case Kind::InvalidGroupAddress:
            return {"invalid_group_address", "value", std::move(warning.text)};
        case Kind::InvalidIndividualAddress:
            return {"invalid_individual_address", "value", std::move(warning.text)};
        case Kind::DuplicateGroupAddress:
            return {"duplicate_group_address", "address", warning.address.display()};
        case Kind::MissingDptMetadata:
            return {"missing_dpt_metadata", "address", warning.address.display()};
    }
    return {};
}

KnxprojDto project_dto(project::Project& project) {
    KnxprojDto dto;
    dto.group_addresses.reserve(project.group_addresses.size());
    for (auto& entry : project.group_addresses) {
        dto.group_addresses.push_back(
            {entry.address.display(), std::move(entry.name), std::move(entry.dpt)});
    }
    dto.topology.reserve(project.topology.size());
    for (auto& area : project.topology) {
        KnxprojTopologyAreaDto area_dto{area.address, std::move(area.name), {}};
        for (auto& line : area.lines) {
            KnxprojTopologyLineDto line_dto{line.address, std::move(line.name), {}};
            for (auto& device : line.devices) {
                line_dto.devices.push_back({device.address.display(), std::move(device.name)});
            }
            area_dto.lines.push_back(std::move(line_dto));
        }
        dto.topology.push_back(std::move(area_dto));
    }
    dto.warnings.reserve(project.warnings.size());
    for (auto& warning : project.warnings) dto.warnings.push_back(warning_dto(warning));
    return dto;
}

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

bool key(Writer& w, std::string_view name) {
    return w.Key(name.data(), static_cast<rapidjson::SizeType>(name.size()));
}
bool text(Writer& w, std::string_view value) {
    return w.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
}
bool optional_text(Writer& w, const std::optional<std::string>& value) {
    return value ? text(w, *value) : w.Null();
}

template <class Item, class WriteItem>
bool array(Writer& w, const std::vector<Item>& items, WriteItem write_item) {
    if (!w.StartArray()) return false;
    for (const Item& item : items) {
        if (!write_item(w, item)) return false;
    }
    return w.EndArray();
}

bool write_device(Writer& w, const KnxprojDeviceDto& d) {
    return w.StartObject() && key(w, "address") && text(w, d.address) && key(w, "name") &&
           optional_text(w, d.name) && w.EndObject();
}

bool write_line(Writer& w, const KnxprojTopologyLineDto& l) {
    return w.StartObject() && key(w, "address") && w.Uint(l.address) && key(w, "name") &&
           optional_text(w, l.name) && key(w, "devices") && array(w, l.devices, write_device) &&
           w.EndObject();
}

bool write_area(Writer& w, const KnxprojTopologyAreaDto& a) {
    return w.StartObject() && key(w, "address") && w.Uint(a.address) && key(w, "name") &&
           optional_text(w, a.name) && key(w, "lines") && array(w, a.lines, write_line) &&
           w.EndObject();
}

bool write_group_address(Writer& w, const KnxprojGroupAddressDto& g) {
    return w.StartObject() && key(w, "address") && text(w, g.address) && key(w, "name") &&
           optional_text(w, g.name) && key(w, "dpt") && optional_text(w, g.dpt) && w.EndObject();
}

bool write_warning(Writer& w, const KnxprojWarningDto& warning) {
    return w.StartObject() && key(w, "type") && text(w, warning.type) && key(w, warning.key) &&
           text(w, warning.value) && w.EndObject();
}

bool write_project(Writer& w, const KnxprojDto& dto) {
    return w.StartObject() && key(w, "group_addresses") &&
           array(w, dto.group_addresses, write_group_address) && key(w, "topology") &&
           array(w, dto.topology, write_area) && key(w, "warnings") &&
           array(w, dto.warnings, write_warning) && w.EndObject();
}

struct Outcome {
    std::optional<project::ProjectImportError> error;
    bool written = false;
    bool out_of_memory = false;
};

// Runs without the interpreter lock: it touches no Python object. Running out of memory on a
// large project must become a Python MemoryError, not end the process.
Outcome import_as_json(const std::string& path, rapidjson::StringBuffer& buffer) {
    try {
        auto project = project::Project::from_knxproj_path(path);
        if (!project) return {std::move(project.error())};
        KnxprojDto dto = project_dto(*project);
        *project = {};  // the model's texts now live in the records
        Writer writer(buffer);
        return {std::nullopt, write_project(writer, dto)};
    } catch (const std::bad_alloc&) {
        return {std::nullopt, false, true};
    }
}

}  // namespace

PyObject* load_knxproj_json(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr const char* kFunction = "load_knxproj_json";
    PyObject* argument = single_argument(kFunction, "path", args, nargs, kwnames);
    if (argument == nullptr) return nullptr;
    if (!PyUnicode_Check(argument)) {
        Py_ssize_t ignored = 0;
        utf8_argument(argument, kFunction, "path", &ignored);  // raises the TypeError naming `path`
        return nullptr;
    }
    // The file system's encoding, so that names Python decoded with surrogate escapes reach the
    // same file again.
    PyRef encoded(PyUnicode_EncodeFSDefault(argument));
    if (!encoded) return nullptr;
    std::string path(PyBytes_AS_STRING(encoded.get()),
                     static_cast<std::size_t>(PyBytes_GET_SIZE(encoded.get())));
    if (path.find('\0') != std::string::npos) {
        return to_py_value_error("embedded null character in path");
    }

    rapidjson::StringBuffer buffer;
    PyThreadState* thread = PyEval_SaveThread();
    Outcome outcome = import_as_json(path, buffer);
    PyEval_RestoreThread(thread);

    if (outcome.out_of_memory) return PyErr_NoMemory();
    if (outcome.error) {
        if (outcome.error->kind == project::ProjectImportError::Kind::Io) {
            // Only the system's own text, so Python makes a plain OSError with no errno.
            PyRef message(
                PyUnicode_FromStringAndSize(outcome.error->detail.data(),
                                            static_cast<Py_ssize_t>(outcome.error->detail.size())));
            if (message) PyErr_SetObject(PyExc_OSError, message.get());
            return nullptr;
        }
        return to_py_value_error(outcome.error->display());
    }
    if (!outcome.written) return to_py_runtime_error("the project could not be written as JSON");
    return PyUnicode_FromStringAndSize(buffer.GetString(),
                                       static_cast<Py_ssize_t>(buffer.GetSize()));
}

}  // namespace tavrel::python
