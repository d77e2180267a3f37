// SPDX-License-Identifier: MIT
// byteblend._native: blend() and composite() for numpy arrays and any other
// object with the buffer protocol. Every argument is checked, and out made,
// before a byte is written; the kernels then run without the GIL.
//
// numpy arrays are read through the buffer protocol too, and new arrays made
// by numpy.empty: the extension uses none of numpy's C headers, so it cannot
// be built against headers of another numpy than the one it runs with (such
// as Debian's python3-numpy in /usr/include/python3.X/numpy).
#include <nanobind/nanobind.h>

#include <byteblend.hpp>
#include <byteblend_layers.hpp>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "layout.hpp"
#include "strided_blend.hpp"
#include "strided_composite.hpp"

namespace nb = nanobind;
using byteblend::python::ByteRange;
using byteblend::python::Extents;
using byteblend::python::PixelArray;
using byteblend::python::Strided;

namespace {

// What the module uses of numpy, looked up when it is imported (so that no
// call has to import numpy, which may let another thread run). Leaked on
// purpose: Python objects must not be released after the interpreter has
// finalized.
struct Numpy {
  nb::handle ndarray;
  nb::handle uint8;
  nb::handle empty;
  nb::handle shares_memory;
};
Numpy numpy;

void look_up_numpy() {
  const nb::module_ module = nb::module_::import_("numpy");
  const auto look_up = [&module](const char *name) {
    return nb::object(module.attr(name)).release();
  };
  numpy = {look_up("ndarray"), look_up("uint8"), look_up("empty"),
           look_up("shares_memory")};
}

// The largest byte count one kernel call takes; tests set it small to
// check how large arrays are split.
std::size_t piece_size = byteblend::default_chunk;

// A Python object's buffer, released with this holder.
class HeldBuffer {
public:
  HeldBuffer() = default;
  HeldBuffer(const HeldBuffer &) = delete;
  HeldBuffer &operator=(const HeldBuffer &) = delete;
  HeldBuffer(HeldBuffer &&) = delete;
  HeldBuffer &operator=(HeldBuffer &&) = delete;
  ~HeldBuffer() {
    if (held_) {
      PyBuffer_Release(&view_);
    }
  }

  // Asks for the buffer; false, with no Python error pending, if refused.
  bool acquire(PyObject *object, int flags) {
    held_ = PyObject_GetBuffer(object, &view_, flags) == 0;
    if (!held_) {
      PyErr_Clear();
    }
    return held_;
  }

  [[nodiscard]] const Py_buffer &view() const { return view_; }

private:
  Py_buffer view_{};
  bool held_ = false;
};

// One of top, bottom and out, as the caller gave it.
struct Operand {
  Operand(const char *role_name, nb::handle given)
      : role(role_name), object(given) {}

  const char *role;
  nb::handle object;
  // The numpy array made of an input without the buffer protocol; declared
  // before buffer, so that the buffer is released first.
  nb::object converted;
  HeldBuffer buffer;
  bool is_array = false;
  Extents shape;
  Strided layout;
};

std::string shape_text(const Extents &shape) {
  std::string text = "(";
  for (std::size_t axis = 0; axis < shape.size(); ++axis) {
    text += std::to_string(shape[axis]);
    text += shape.size() == 1 ? "," : axis + 1 < shape.size() ? ", " : "";
  }
  return text + ")";
}

// str() of an object, or its repr().
std::string text_of(nb::handle object, bool repr = false) {
  const nb::object text = nb::steal(repr ? PyObject_Repr(object.ptr())
                                         : PyObject_Str(object.ptr()));
  const char *utf8 = text ? PyUnicode_AsUTF8(text.ptr()) : nullptr;
  if (utf8 == nullptr) {
    PyErr_Clear();
    return "?";
  }
  return utf8;
}

bool holds_bytes(const Py_buffer &view) {
  if (view.itemsize != 1) {
    return false;
  }
  if (view.format == nullptr) {
    return true;
  }
  std::string_view format(view.format);
  if (!format.empty() && std::string_view("@=<>!|").find(format.front()) !=
                             std::string_view::npos) {
    format.remove_prefix(1);
  }
  return format == "B";
}

// The kind of a buffer's items as numpy names it ('f' float, 'u' unsigned,
// 'i' signed, 'b' bool), from its struct format; '?' for any other.
char item_kind(const char *format) {
  std::string_view code(format != nullptr ? format : "B");
  if (!code.empty() &&
      std::string_view("@=<>!|").find(code.front()) != std::string_view::npos) {
    code.remove_prefix(1);
  }
  if (code.size() != 1) {
    return '?';
  }
  const auto among = [&code](std::string_view codes) {
    return codes.find(code.front()) != std::string_view::npos;
  };
  return among("efd")      ? 'f'
         : among("BHILQN") ? 'u'
         : among("bhilqn") ? 'i'
         : among("?")      ? 'b'
                           : '?';
}

// How to turn items of this kind and size into the bytes blended here.
std::string conversion(const char *role, char kind, Py_ssize_t itemsize) {
  const std::string name(role);
  if (name == "out") {
    return "; blend into a uint8 array (out=None makes one) and convert the "
           "result afterwards";
  }
  if (kind == 'f') {
    return "; scale floats in 0..1 to bytes with (" + name +
           " * 255).round().astype(np.uint8), floats in 0..255 with " + name +
           ".round().astype(np.uint8)";
  }
  if (kind == 'u' && itemsize == 2) {
    return "; scale 16-bit values to bytes with (" + name +
           " >> 8).astype(np.uint8) or (" + name + " // 257).astype(np.uint8)";
  }
  if (kind == 'u' || kind == 'i' || kind == 'b') {
    return "; convert values that are already in 0..255 with " + name +
           ".astype(np.uint8)";
  }
  return "; byteblend blends uint8 values only";
}

// What an operand holds: its dtype or buffer format, as numpy would name
// its kind, and the size of one item.
struct Items {
  std::string what;
  char kind = '?';
  Py_ssize_t itemsize = 0;
};

Items items_of(const Operand &operand) {
  if (operand.is_array) {
    const nb::object dtype = operand.object.attr("dtype");
    const std::string kind = text_of(dtype.attr("kind"));
    return {"dtype " + text_of(dtype), kind.size() == 1 ? kind.front() : '?',
            nb::cast<Py_ssize_t>(dtype.attr("itemsize"))};
  }
  const char *format = operand.buffer.view().format;
  return {std::string("items of format '") +
              (format != nullptr ? format : "B") + "'",
          item_kind(format), operand.buffer.view().itemsize};
}

[[noreturn]] void refuse_items(const Operand &operand) {
  const Items items = items_of(operand);
  throw nb::type_error((std::string(operand.role) +
                        " must hold uint8 values, not " + items.what +
                        conversion(operand.role, items.kind, items.itemsize))
                           .c_str());
}

// An input without the buffer protocol (a Pillow image, a list of ints, an
// object with __array__) as numpy.asarray gives it, by the package's Python
// side (byteblend._as_array), which also raises for what is no array.
nb::object as_array(const Operand &operand) {
  const nb::object convert =
      nb::module_::import_("byteblend").attr("_as_array");
  return convert(operand.object, operand.role);
}

bool is_ndarray(nb::handle object) {
  return PyObject_TypeCheck(object.ptr(), reinterpret_cast<PyTypeObject *>(
                                              numpy.ndarray.ptr())) != 0;
}

// Takes the operand's memory, writable for out, and checks its items.
void take(Operand &operand, bool writable) {
  operand.is_array = is_ndarray(operand.object);
  const int flags = writable ? PyBUF_RECORDS : PyBUF_RECORDS_RO;
  if (!operand.buffer.acquire(operand.object.ptr(), flags)) {
    HeldBuffer readable;
    if (writable && readable.acquire(operand.object.ptr(), PyBUF_RECORDS_RO)) {
      throw nb::value_error(
          "out is read-only; blend into a writable array: out.copy(), "
          "bytearray(out) for bytes, or np.array(image) for a Pillow image "
          "(np.asarray(image) gives a read-only view of it)");
    }
    // numpy exports no buffer for some dtypes, such as datetime64.
    if (operand.is_array) {
      refuse_items(operand);
    }
    if (writable) {
      throw nb::type_error(
          ("out must be None, a writable numpy array of uint8 or a writable "
           "buffer such as a bytearray, not " +
           text_of(operand.object.type().attr("__name__")))
              .c_str());
    }
    operand.converted = as_array(operand);
    operand.object = operand.converted;
    operand.is_array = is_ndarray(operand.object);
    if (!operand.buffer.acquire(operand.object.ptr(), flags)) {
      refuse_items(operand);
    }
  }
  const Py_buffer &view = operand.buffer.view();
  if (!holds_bytes(view)) {
    refuse_items(operand);
  }
  operand.shape.assign(view.shape, view.shape + view.ndim);
  if (view.strides != nullptr) {
    operand.layout.strides.assign(view.strides, view.strides + view.ndim);
  } else {
    operand.layout.strides =
        byteblend::python::contiguous_strides(operand.shape);
  }
  operand.layout.data = static_cast<std::uint8_t *>(view.buf);
}

std::size_t byte_count(const Operand &operand) {
  return byteblend::python::item_count(operand.shape);
}

// What to do about shapes that differ: top must broadcast to bottom's shape,
// or be blended onto the part of bottom it covers; out has bottom's shape.
std::string shape_advice(byteblend::Mode mode, const Operand &one,
                         const Operand &other) {
  if (std::string_view(one.role) == "top" &&
      std::string_view(other.role) == "bottom") {
    const std::string height =
        one.shape.size() >= 2 ? std::to_string(one.shape[0]) : "h";
    const std::string width =
        one.shape.size() >= 2 ? std::to_string(one.shape[1]) : "w";
    const std::string part = "bottom[y:y+" + height + ", x:x+" + width + "]";
    return "; top must have bottom's shape or broadcast to it (as (3,), "
           "(H, W) or (H, W, 1) onto (H, W, 3)); "
           "to place a smaller top at (x, y) of bottom, blend onto that "
           "part of it: byteblend.blend(\"" +
           std::string(byteblend::name(mode)) + "\", top, " + part +
           ", out=" + part + ")";
  }
  return "; out must have the shape of the result, bottom's (out=None makes "
         "it)";
}

// numpy arrays must agree in shape, anything else in size.
void check_sizes(byteblend::Mode mode, const Operand &one,
                 const Operand &other) {
  if (one.is_array && other.is_array && one.shape != other.shape) {
    throw nb::value_error((std::string("shapes differ: ") + one.role + " " +
                           shape_text(one.shape) + ", " + other.role + " " +
                           shape_text(other.shape) +
                           shape_advice(mode, one, other))
                              .c_str());
  }
  if (byte_count(one) != byte_count(other)) {
    throw nb::value_error((std::string("sizes differ: ") + one.role + " has " +
                           std::to_string(byte_count(one)) + " bytes, " +
                           other.role + " " +
                           std::to_string(byte_count(other)) +
                           "; plain buffers pair byte for byte and must be "
                           "of one size")
                              .c_str());
  }
}

// top read as an array of bottom's shape, as numpy.broadcast_to would give
// it (axes of stride 0, which the strided blend reads as they are): for one
// colour (3,) or a grey (H, W, 1) layer onto an (H, W, 3) image. A grey
// (H, W) layer, which numpy would align with (W, 3), is taken as (H, W, 1).
// A plain buffer of bottom's size pairs with it byte for byte instead.
void broadcast_top(Operand &top, const Operand &bottom) {
  if (top.shape == bottom.shape || !bottom.is_array ||
      (!top.is_array && byte_count(top) == byte_count(bottom))) {
    return;
  }
  if (!byteblend::python::broadcasts_to(top.shape, bottom.shape)) {
    const std::size_t axes = top.shape.size();
    if (axes + 1 != bottom.shape.size() ||
        !std::equal(top.shape.begin(), top.shape.end(), bottom.shape.begin())) {
      return;
    }
    Extents grey(axes + 1);
    Extents strides(axes + 1);
    for (std::size_t axis = 0; axis < axes; ++axis) {
      grey[axis] = top.shape[axis];
      strides[axis] = top.layout.strides[axis];
    }
    grey[axes] = 1;
    top.shape = grey;
    top.layout.strides = strides;
  }
  top.layout.strides = byteblend::python::broadcast_strides(
      top.shape, top.layout.strides, bottom.shape);
  top.shape = bottom.shape;
  top.is_array = true;
}

// The channel kernels take packed RGB: an array of pixels must have three
// values each.
void check_channels(byteblend::Mode mode, const Operand &operand) {
  if (byteblend::is_channel_mode(mode) && operand.shape.size() > 1 &&
      operand.shape.back() != 3) {
    Extents needed = operand.shape;
    needed[needed.size() - 1] = 3;
    std::string advice = "; it needs shape " + shape_text(needed);
    if (operand.shape.back() == 4) {
      advice += " (for RGBA, blend the view rgba[..., :3])";
    }
    if (operand.shape.back() < 3) {
      // What Dask's map_blocks passes when chunks split the channel axis.
      advice += "; for a Dask array, keep the last axis in one chunk: "
                "map_blocks over array.rechunk({-1: -1})";
    }
    throw nb::value_error((std::string(byteblend::name(mode)) +
                           " blends packed RGB pixels, but " + operand.role +
                           " has shape " + shape_text(operand.shape) +
                           ", whose last axis is not 3" + advice)
                              .c_str());
  }
}

// An operand in the shape shared by all three: its own strides when it has
// that shape, else the strides of a contiguous array of it.
Strided in_shape(const Operand &operand, const Extents &shape) {
  if (operand.shape == shape) {
    return operand.layout;
  }
  if (!byteblend::python::is_contiguous(operand.shape,
                                        operand.layout.strides)) {
    throw nb::value_error(
        (std::string(operand.role) + " is a non-contiguous buffer of shape " +
         shape_text(operand.shape) + " and cannot be paired with shape " +
         shape_text(shape) + "; pass a numpy array of that shape")
            .c_str());
  }
  return {operand.layout.data, byteblend::python::contiguous_strides(shape)};
}

// out may be an input itself, but may not share bytes with it otherwise.
// input_shape is out's shape where not given (blend()'s arrays have one);
// composite()'s top may have other channels, and then cannot be out.
void check_overlap(const Operand &out, const Strided &out_layout,
                   const Operand &input, const Strided &input_layout,
                   const Extents &shape, const Extents *input_shape = nullptr) {
  const Extents &input_extents = input_shape != nullptr ? *input_shape : shape;
  if (input_extents == shape && out_layout.data == input_layout.data &&
      out_layout.strides == input_layout.strides) {
    return;
  }
  const ByteRange out_bytes = byteblend::python::byte_range(shape, out_layout);
  const ByteRange input_bytes =
      byteblend::python::byte_range(input_extents, input_layout);
  if (!byteblend::python::ranges_meet(out_bytes, input_bytes)) {
    return;
  }
  // Interleaved views span the same range without sharing a byte; numpy
  // tells exactly.
  const bool both_contiguous =
      byteblend::python::is_contiguous(shape, out_layout.strides) &&
      byteblend::python::is_contiguous(input_extents, input_layout.strides);
  if (both_contiguous ||
      nb::cast<bool>(numpy.shares_memory(out.object, input.object))) {
    throw nb::value_error(
        (std::string("out overlaps ") + input.role +
         " without being the very same array; blend into a separate array "
         "or into " +
         input.role + " itself")
            .c_str());
  }
}

// The name of every mode, in the order of the C++ interface's table; with
// normal after them for composite().
nb::tuple mode_names(bool with_normal = false) {
  nb::list names;
  for (const byteblend::LayerMode mode : byteblend::all_layer_modes) {
    if (mode == byteblend::LayerMode::normal && !with_normal) {
      continue;
    }
    const std::string_view name = byteblend::name(mode);
    names.append(nb::str(name.data(), name.size()));
  }
  return nb::tuple(names);
}

// " (did you mean 'color-dodge'?)" for the names most like an unknown one,
// by difflib as Python's own suggestions go; empty if none is close.
std::string closest_modes(const std::string &folded, bool with_normal) {
  const nb::object matches = nb::module_::import_("difflib").attr(
      "get_close_matches")(nb::str(folded.c_str()), mode_names(with_normal));
  std::string text;
  for (const nb::handle match : matches) {
    text += text.empty() ? " (did you mean " : " or ";
    text += text_of(match, true);
  }
  return text.empty() ? text : text + "?)";
}

// folded: the name in lower case with '-' for '_', empty if mode is no str.
[[noreturn]] void refuse_mode(nb::handle mode, const std::string &folded,
                              bool with_normal) {
  std::string message =
      "unknown blend mode " + text_of(mode, true) +
      (folded.empty() ? "" : closest_modes(folded, with_normal)) +
      "; the modes (in any case, with '-' or '_') are:";
  for (const nb::handle known : mode_names(with_normal)) {
    message += ' ';
    message += text_of(known);
  }
  throw nb::value_error(message.c_str());
}

// A name in lower case with '-' for '_'; none if the object is no str.
std::optional<std::string> folded_name(nb::handle name) {
  Py_ssize_t length = 0;
  const char *text = PyUnicode_Check(name.ptr()) != 0
                         ? PyUnicode_AsUTF8AndSize(name.ptr(), &length)
                         : nullptr;
  if (text == nullptr) {
    PyErr_Clear();
    return std::nullopt;
  }
  std::string folded(text, static_cast<std::size_t>(length));
  for (char &c : folded) {
    c = c == '_'               ? '-'
        : c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a')
                               : c;
  }
  return folded;
}

// A mode by name in any case, with '_' for '-' too, so that each function's
// name (color_dodge) is a mode's name; normal for composite() only, whose
// name blend() answers with where to find it.
byteblend::LayerMode parse_layer_mode(nb::handle mode, bool composite) {
  const std::optional<std::string> folded = folded_name(mode);
  if (!folded) {
    refuse_mode(mode, "", composite);
  }
  if (const auto parsed = byteblend::parse_mode(*folded)) {
    return *parsed;
  }
  if (*folded == "normal") {
    if (composite) {
      return byteblend::LayerMode::normal;
    }
    throw nb::value_error(
        "'normal' (the top itself) is a mode of composite(), not of "
        "blend(): byteblend.composite(\"normal\", top, bottom, opacity=0.7) "
        "mixes the top in by its opacity and alpha; blend() takes the modes "
        "of byteblend.MODES");
  }
  refuse_mode(mode, *folded, composite);
}

byteblend::Mode parse(nb::handle mode) {
  return *parse_layer_mode(mode, false).mode();
}

// composite()'s operator by name, in any case.
byteblend::Operator parse_operator(nb::handle blend_operator) {
  const std::optional<std::string> folded = folded_name(blend_operator);
  if (folded == "atop") {
    return byteblend::Operator::atop;
  }
  if (folded == "over") {
    return byteblend::Operator::over;
  }
  throw nb::value_error(
      ("unknown operator " + text_of(blend_operator, true) +
       "; the operators are 'atop' (the default: the top paints only where "
       "the bottom is, and the result keeps bottom's alpha) and 'over' "
       "(source-over: the top paints where it is, onto transparent parts "
       "too)")
          .c_str());
}

// Python's bool, or numpy's (np.bool_, np.bool in numpy 2), which is no
// subclass of int but converts to a float all the same.
bool is_a_bool(nb::handle value) {
  if (PyBool_Check(value.ptr()) != 0) {
    return true;
  }
  const nb::handle type = value.type();
  const std::string name = text_of(type.attr("__name__"));
  return (name == "bool_" || name == "bool") &&
         text_of(type.attr("__module__")) == "numpy";
}

// An opacity from 0 (the bottom only) to 1 (all of the blend): any real
// number (numpy's too) but a bool.
double opacity_of(nb::handle opacity) {
  const char *const needed = "opacity must be a number from 0 to 1";
  if (is_a_bool(opacity)) {
    throw nb::type_error(needed);
  }
  const double value = PyFloat_AsDouble(opacity.ptr());
  if (value == -1.0 && PyErr_Occurred() != nullptr) {
    PyErr_Clear();
    throw nb::type_error((std::string(needed) + ", not " +
                          text_of(opacity.type().attr("__name__")))
                             .c_str());
  }
  if (!(value >= 0 && value <= 1)) {
    throw nb::value_error((std::string(needed) +
                           " (0: the bottom only, 1: "
                           "all of the blend), not " +
                           text_of(opacity, true))
                              .c_str());
  }
  return value;
}

unsigned thread_count(nb::handle threads) {
  if (threads.is_none()) {
    return 0;
  }
  // Any integer (numpy's too) but a bool.
  if (PyIndex_Check(threads.ptr()) == 0 || PyBool_Check(threads.ptr()) != 0) {
    throw nb::type_error("threads must be None or a positive int");
  }
  const nb::object index = nb::steal(PyNumber_Index(threads.ptr()));
  if (!index) {
    throw nb::python_error();
  }
  // Any positive count is fine: one too large for Options is taken as the
  // largest it holds; how many threads are worth starting is then
  // byteblend::blend's call, not this one's.
  int overflow = 0;
  const long long count = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
  if (count == -1 && PyErr_Occurred() != nullptr) {
    throw nb::python_error();
  }
  constexpr unsigned most = std::numeric_limits<unsigned>::max();
  if (overflow > 0 || count > most) {
    return most;
  }
  if (overflow < 0 || count < 1) {
    throw nb::value_error("threads must be None or a positive int");
  }
  return static_cast<unsigned>(count);
}

// numpy.empty(shape, numpy.uint8): a C-ordered array; numpy raises
// MemoryError, saying how much, when it cannot have the memory.
nb::object new_array(const Extents &shape) {
  const nb::object dimensions =
      nb::steal(PyTuple_New(static_cast<Py_ssize_t>(shape.size())));
  if (!dimensions) {
    throw nb::python_error();
  }
  for (std::size_t axis = 0; axis < shape.size(); ++axis) {
    PyObject *const length = PyLong_FromSsize_t(shape[axis]);
    if (length == nullptr) {
      throw nb::python_error();
    }
    PyTuple_SET_ITEM(dimensions.ptr(), static_cast<Py_ssize_t>(axis), length);
  }
  std::array<PyObject *, 2> arguments{dimensions.ptr(), numpy.uint8.ptr()};
  nb::object array = nb::steal(PyObject_Vectorcall(
      numpy.empty.ptr(), arguments.data(), arguments.size(), nullptr));
  if (!array) {
    throw nb::python_error();
  }
  return array;
}

nb::object blend(nb::handle mode_name, nb::handle top_object,
                 nb::handle bottom_object, nb::handle out_object,
                 nb::handle threads, nb::handle opacity) {
  const byteblend::Mode mode = parse(mode_name);
  const unsigned thread_option = thread_count(threads);
  const double opacity_option = opacity_of(opacity);
  Operand top("top", top_object);
  Operand bottom("bottom", bottom_object);
  take(top, false);
  take(bottom, false);
  broadcast_top(top, bottom);
  check_sizes(mode, top, bottom);
  check_channels(mode, top);
  check_channels(mode, bottom);

  nb::object result;
  Operand out("out", out_object);
  if (out_object.is_none()) {
    result = new_array(bottom.is_array ? bottom.shape : top.shape);
    out.object = result;
    take(out, true);
  } else {
    result = nb::borrow(out_object);
    take(out, true);
    check_sizes(mode, top, out);
    check_sizes(mode, bottom, out);
    check_channels(mode, out);
  }

  // The shared shape: the first numpy array's, else top's.
  const Extents &shape = top.is_array      ? top.shape
                         : bottom.is_array ? bottom.shape
                         : out.is_array    ? out.shape
                                           : top.shape;
  const Strided top_layout = in_shape(top, shape);
  const Strided bottom_layout = in_shape(bottom, shape);
  const Strided out_layout = in_shape(out, shape);
  if (!out_object.is_none()) {
    check_overlap(out, out_layout, top, top_layout, shape);
    check_overlap(out, out_layout, bottom, bottom_layout, shape);
  }

  // A new array for a channel mode starts as bottom, so that its other two
  // channels are bottom's.
  const bool fresh_channels =
      out_object.is_none() && byteblend::is_channel_mode(mode);
  const byteblend::Options options{
      .threads = thread_option, .chunk = piece_size, .opacity = opacity_option};
  {
    const nb::gil_scoped_release unlocked;
    if (fresh_channels) {
      byteblend::python::copy_to_contiguous(mode, shape, bottom_layout,
                                            out_layout.data, options);
    }
    byteblend::python::blend_arrays(mode, shape, top_layout, bottom_layout,
                                    out_layout, options);
  }
  return result;
}

// A composite takes pixels: arrays whose last axis holds 3 (RGB) or 4
// (RGBA) values.
void check_pixels(const Operand &operand) {
  const std::ptrdiff_t channels =
      operand.shape.empty() ? 0 : operand.shape.back();
  if (channels != 3 && channels != 4) {
    throw nb::value_error(
        (std::string("composite takes pixels of 3 (RGB) or 4 (RGBA) values, "
                     "but ") +
         operand.role + " has shape " + shape_text(operand.shape) +
         ", whose last axis is not 3 or 4; for bytes, pass "
         "np.frombuffer(data, np.uint8).reshape(height, width, 3)")
            .c_str());
  }
}

// top and bottom have as many pixels in the same shape, whatever their
// channels.
void check_same_pixels(const Operand &top, const Operand &bottom) {
  if (!std::equal(top.shape.begin(), top.shape.end() - 1, bottom.shape.begin(),
                  bottom.shape.end() - 1)) {
    throw nb::value_error(
        ("shapes differ: top " + shape_text(top.shape) + ", bottom " +
         shape_text(bottom.shape) +
         "; a composite takes top and bottom of the same height and width "
         "(their last axes may be 3 or 4 each); to place a smaller top at "
         "(x, y) of bottom, composite onto that part of it: "
         "byteblend.composite(mode, top, bottom[y:y+h, x:x+w], "
         "out=bottom[y:y+h, x:x+w])")
            .c_str());
  }
}

nb::object composite(nb::handle mode_name, nb::handle top_object,
                     nb::handle bottom_object, nb::handle out_object,
                     nb::handle operator_name, nb::handle opacity,
                     nb::handle threads) {
  const byteblend::LayerMode mode = parse_layer_mode(mode_name, true);
  const byteblend::Operator blend_operator = parse_operator(operator_name);
  const double opacity_option = opacity_of(opacity);
  const unsigned thread_option = thread_count(threads);
  Operand top("top", top_object);
  Operand bottom("bottom", bottom_object);
  take(top, false);
  take(bottom, false);
  check_pixels(top);
  check_pixels(bottom);
  check_same_pixels(top, bottom);

  nb::object result;
  Operand out("out", out_object);
  if (out_object.is_none()) {
    result = new_array(bottom.shape);
    out.object = result;
    take(out, true);
  } else {
    result = nb::borrow(out_object);
    take(out, true);
    if ((out.is_array && out.shape != bottom.shape) ||
        byte_count(out) != byte_count(bottom)) {
      throw nb::value_error(("shapes differ: bottom " +
                             shape_text(bottom.shape) + ", out " +
                             shape_text(out.shape) +
                             "; out must have bottom's shape, the result's "
                             "(out=None makes it)")
                                .c_str());
    }
  }
  const Extents &shape = bottom.shape;
  const Strided out_layout = in_shape(out, shape);
  if (!out_object.is_none()) {
    check_overlap(out, out_layout, bottom, bottom.layout, shape);
    check_overlap(out, out_layout, top, top.layout, shape, &top.shape);
  }

  Extents pixels(shape.size() - 1);
  for (std::size_t axis = 0; axis + 1 < shape.size(); ++axis) {
    pixels[axis] = shape[axis];
  }
  const auto channels = [](const Operand &operand) {
    return static_cast<std::size_t>(operand.shape.back());
  };
  const std::array<PixelArray, 3> arrays{
      PixelArray{top.layout, channels(top)},
      PixelArray{bottom.layout, channels(bottom)},
      PixelArray{out_layout, channels(bottom)}};
  const byteblend::Options options{.threads = thread_option,
                                   .chunk = piece_size,
                                   .opacity = opacity_option,
                                   .blend_operator = blend_operator};
  {
    const nb::gil_scoped_release unlocked;
    byteblend::python::composite_arrays(mode, pixels, arrays, options);
  }
  return result;
}

void set_piece_size(std::size_t size) {
  if (size == 0 || size % 3 != 0 ||
      size >
          static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    throw nb::value_error("the piece size must be a positive multiple of 3 "
                          "below 2^31");
  }
  piece_size = size;
}

} // namespace

NB_MODULE(_native, module) {
  look_up_numpy();
  module.doc() = "The compiled part of byteblend; use the byteblend package.";
  module.def("blend", &blend, nb::arg("mode").none(), nb::arg("top").none(),
             nb::arg("bottom").none(), nb::arg("out").none(),
             nb::arg("threads").none(), nb::arg("opacity").none(),
             "blend(mode, top, bottom, out, threads, opacity) -> out or a new "
             "array");
  module.def("composite", &composite, nb::arg("mode").none(),
             nb::arg("top").none(), nb::arg("bottom").none(),
             nb::arg("out").none(), nb::arg("operator").none(),
             nb::arg("opacity").none(), nb::arg("threads").none(),
             "composite(mode, top, bottom, out, operator, opacity, threads) "
             "-> out or a new array");
  module.def("_set_piece_size", &set_piece_size, nb::arg("size"),
             "Sets the most bytes one kernel call takes (for tests).");
  module.def(
      "_piece_size", [] { return piece_size; },
      "The most bytes one kernel call takes.");
  module.attr("default_piece_size") = byteblend::default_chunk;
  // The package's MODES, and COMPOSITE_MODES: those and normal.
  module.attr("modes") = mode_names();
  module.attr("composite_modes") = mode_names(true);
}
