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

#include <QAbstractItemView>
#include <QLineEdit>
#include <QTest>

// A cell of the result grid as shown, rows from 0 in the order on screen.
inline QString GridText(const QObject &window, int row, int column)
{
    const auto *grid = Child<QAbstractItemView>(window, "FlexGrid");
    return grid->model()->index(row, column).data().toString();
}

inline int GridRows(const QObject &window)
{
    return Child<QAbstractItemView>(window, "FlexGrid")->model()->rowCount();
}

// Runs the event loop until the condition holds; false on time-out.
template <typename Condition>
bool WaitFor(Condition condition, int milliseconds = 20'000)
{
    return QTest::qWaitFor(condition, milliseconds);
}
