// The commands of qorpack. Each reads its arguments (after the command's name) and returns the
// process exit status: 0 on success, non-zero with a message on standard error otherwise.
#pragma once

int CommandImplode(int argc, char** argv);  // qorpack implode [--ascii] [--dict 1024|2048|4096]
int CommandExplode(int argc, char** argv);  // qorpack explode
int CommandBuild(int argc, char** argv);    // qorpack build LIST   (also: qorpack /m LIST)
int CommandList(int argc, char** argv);     // qorpack list PKG
int CommandVerify(int argc, char** argv);   // qorpack verify PKG
int CommandExtract(int argc, char** argv);  // qorpack extract PKG DIR
int CommandInit(int argc, char** argv);     // qorpack init [--lang LIST] DIR
