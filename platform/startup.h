// The portable program body; each backend's entry point calls it.
#pragma once

int Setup();
