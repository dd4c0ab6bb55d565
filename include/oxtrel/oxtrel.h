#pragma once

// The whole public interface of the oxtrel library.

#include <oxtrel/archive.h>
#include <oxtrel/compression.h>
#include <oxtrel/diff.h>
#include <oxtrel/entry_reader.h>
#include <oxtrel/extract.h>
#include <oxtrel/jobs.h>
#include <oxtrel/pack.h>
#include <oxtrel/result.h>
#include <oxtrel/update.h>
#include <oxtrel/version.h>
