#!/usr/bin/env node
// The quarvel command: the program itself, compiled to WebAssembly, with
// files, standard input and output and -o on Node's own file system.
'use strict';
require('../quarvel_node.js');
