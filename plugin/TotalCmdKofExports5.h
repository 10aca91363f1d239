#pragma once
// The library's lifetime. Loading the library makes the one plugin object of
// the process and unloading frees it; a program that links the exports in
// instead of loading the library (the in-process flow tests) does the same
// with these two.
namespace kof {

// A fresh plugin object, as if the library had just been loaded.
void LoadLinkedPlugin();
// Frees it, as unloading the library does.
void UnloadLinkedPlugin();

}  // namespace kof
