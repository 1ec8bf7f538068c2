-- ardour7-lua presets.lua FORMAT SESSION_DIR COUNT
--
-- Opens the saved session and loads each of the plug-in's COUNT factory
-- presets with Plugin:load_preset, as Ardour's preset menu does. Each load
-- starts from the organ's defaults and must return within a few seconds; the
-- render after it must sound different from the defaults (every factory
-- registration differs from them), and for the VST3 the parameters Ardour
-- shows must have changed.

local T = dofile (debug.getinfo (1, "S").source:match ("^@(.*/)") .. "common.lua")
local format, session_dir, count = arg[1], arg[2], tonumber (arg[3])

T.require (load_session (session_dir, "organ") ~= nil, "saved session opened")
local insert = T.organ_insert (T.organ_track ())
local plugin = insert:plugin (0)

-- The presets Ardour lists for the plug-in. For the VST3 these are the preset
-- files in the user's VST3 preset folder, which Ardour files as user presets.
local presets = {}
for p in plugin:get_info ():get_presets (format == "vst3"):iter () do
	table.insert (presets, p)
end
T.check (#presets == count, count .. " presets listed", "found " .. #presets)

local defaults = {}
for _, p in ipairs (T.parameters (insert)) do
	defaults[p.name] = p.control:normal ()
end

T.reset (insert)
T.render ("reset")
print ("AUDIO same default reset")

for i, preset in ipairs (presets) do
	local label = preset.label
	T.reset (insert)
	print (string.format ("LOADING %d %s", i, label))
	io.stdout:flush ()
	local t0 = T.now ()
	local ok = plugin:load_preset (preset)
	local took = T.now () - t0
	print (string.format ("LOADED %d %s", i, label))
	T.check (ok, "preset '" .. label .. "' loaded")
	T.check (took < 5, "preset '" .. label .. "' loaded within 5 s", string.format ("took %.1f s", took))

	if format == "vst3" then
		-- Ardour reads the new values when the plug-in tells it they changed
		-- (restartComponent), which may come a moment after the load returns.
		local changed, deadline = {}, T.now () + 2
		repeat
			ARDOUR.LuaAPI.wait_for_process_callback (2, 100)
			changed = T.differences (defaults, T.values (insert))
		until #changed > 0 or T.now () > deadline
		T.check (#changed > 0, "preset '" .. label .. "' changed the parameters Ardour shows",
			"all still read their defaults")
	end

	local name = string.format ("preset-%02d", i)
	T.render (name)
	print (string.format ("AUDIO different default %s %s", name, label))
end
T.close ()
