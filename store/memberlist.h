#pragma once

#include "store/addressbook.h"

// The member list for the companion program: for each of the first 30 entries of list 1 its
// Handle, then its Home, or "mailto:" and its Mail when Home is empty.
QList<QByteArray> memberListLines(const AddressList &list1);

// Writes MemberListPath; returns false and writes nothing when list 1 is empty.
bool exportMemberList(const AddressBook &book);
