// Finding a form's widgets by their object names, as the Designer forms give them.
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QWidget>

namespace velka::gui::testing {

// The child of `form` named `name`; a missing one fails the test.
template <typename T>
T* In(QWidget& form, const char* name) {
    T* found = form.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

}  // namespace velka::gui::testing
