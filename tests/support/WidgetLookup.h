#pragma once

// Controls are found by their object names, as tools and screen readers find them.

#include <QObject>
#include <QWidget>

#include "QtPrinters.h"

#include <gtest/gtest.h>

template <typename T = QWidget>
T *Child(const QObject &root, const char *name)
{
    T *child = root.findChild<T *>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}
