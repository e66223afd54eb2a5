# A malformed scenario: nothing may run.
load
frobnicate the library
