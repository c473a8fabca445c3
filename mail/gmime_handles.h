#pragma once
// GMime objects are GObjects: one reference each, dropped by the pointer.

#include <gmime/gmime.h>

#include <memory>

namespace lumopet::mail {

struct GObjectUnref {
    void operator()(gpointer object) const {
        if (object) g_object_unref(object);
    }
};

template <class T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GFree {
    void operator()(gpointer memory) const { g_free(memory); }
};

using GString_ = std::unique_ptr<char, GFree>;

}  // namespace lumopet::mail
