-- Helpers shared by the Ardour session scripts (run by ardour7-lua, see run.sh).
--
-- Every check prints one line, "PASS: what" or "FAIL: what: why"; run.sh counts
-- them. Each render is announced as "RENDER name path", and the audio checks
-- asked of audio_checks.py as "AUDIO ..." lines.

local T = {}

T.rate = 48000
T.seconds = 2 -- every render is this long

function T.check (ok, what, why)
	if ok then
		print ("PASS: " .. what)
	else
		print ("FAIL: " .. what .. (why and (": " .. why) or ""))
	end
	io.stdout:flush ()
	return ok
end

-- Ends the script: the checks after this one depend on it.
function T.require (ok, what, why)
	if not T.check (ok, what, why) then
		error ("cannot go on after: " .. what, 0)
	end
end

function T.note (text)
	print ("NOTE: " .. text)
	io.stdout:flush ()
end

function T.now ()
	return ARDOUR.LuaAPI.monotonic_time () / 1e6
end

function T.plugin_type (format)
	if format == "vst3" then
		return ARDOUR.PluginType.VST3
	end
	return ARDOUR.PluginType.LV2
end

-- The plug-in as Ardour indexed it: its unique id, looked up by name and type.
-- Ardour reads its plug-in index when the engine starts: call this only once a
-- session is open.
function T.find_plugin (format, name)
	local want = T.plugin_type (format)
	for p in ARDOUR.LuaAPI.list_plugins ():iter () do
		if p.name == name and p.type == want then
			return p.unique_id
		end
	end
	return nil
end

function T.organ_track ()
	for r in Session:get_routes ():iter () do
		if r:name () == "Organ" then
			return r:to_track ():to_midi_track ()
		end
	end
	return nil
end

function T.organ_insert (track)
	return track:nth_plugin (0):to_insert ()
end

-- A MIDI track named "Organ" with the plug-in as its instrument, and one MIDI
-- region of `notes` (each { note, start beat, length in beats }) at the start.
function T.build_session (format, unique_id, notes)
	local tl = Session:new_midi_track (
		ARDOUR.ChanCount (ARDOUR.DataType ("midi"), 1),
		ARDOUR.ChanCount (ARDOUR.DataType ("audio"), 2),
		true, ARDOUR.PluginInfo (), nil, nil, 1, "Organ",
		ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true)
	T.require (tl:size () == 1, "MIDI track created")
	local track = tl:front ()

	-- Bouncing the still empty track gives an empty MIDI region of the wanted
	-- length; the notes are then written into its model.
	local itt = ARDOUR.InterThreadInfo ()
	local region = track:bounce_range (0, T.seconds * T.rate, itt, ARDOUR.LuaAPI.nil_proc (), false, "notes")
	T.require (not region:isnil (), "empty MIDI region made")
	local model = region:to_midiregion ():midi_source (0):model ()
	local cmd = model:new_note_diff_command ("notes")
	local function beats (b) -- Temporal.Beats counts whole beats and 1920ths of one
		return Temporal.Beats (math.floor (b), math.floor ((b % 1) * 1920 + 0.5))
	end
	for _, n in ipairs (notes) do
		cmd:add (ARDOUR.LuaAPI.new_noteptr (1, beats (n[2]), beats (n[3]), n[1], 100))
	end
	model:apply_command (Session, cmd)
	track:playlist ():add_region (region, Temporal.timepos_t (0), 1, false)
	T.check (ARDOUR.LuaAPI.note_list (model):size () == #notes, "MIDI region holds " .. #notes .. " notes")

	local proc = ARDOUR.LuaAPI.new_plugin (Session, unique_id, T.plugin_type (format), "")
	T.require (not proc:isnil (), "plug-in instantiated")
	T.require (track:add_processor_by_index (proc, 0, nil, true) == 0, "plug-in added to the track")
	T.require (not track:the_instrument ():isnil (), "plug-in is the track's instrument")

	-- The track plays (and bounces) its playlist as Ardour's butler thread
	-- rendered it after the region came in: give the engine and the butler time
	-- for that, as ardour7-lua itself does after opening a session.
	ARDOUR.LuaAPI.wait_for_process_callback (16, 2000)
	ARDOUR.LuaAPI.usleep (1000000)
	return track
end

-- Ardour's Lua names no constant for the automation type of LV2 properties;
-- it follows PluginAutomation in Ardour's AutomationType.
T.PROPERTY = ARDOUR.AutomationType.PluginAutomation + 1

-- The plug-in's parameters as Ardour offers them for automation, in order:
-- { name, control, kind }. The VST3's are its parameters (less the host bypass,
-- which Ardour shows as the insert's own enable switch); the LV2's are its
-- patch parameters (LV2 properties), since it has no control input ports of
-- its own. Ardour names the controls it keeps off its GUIs "hidden": the LV2's
-- free-wheeling and enable ports.
function T.parameters (insert)
	local list = {}
	local automatable = insert:to_automatable ()
	for p in automatable:all_automatable_params ():iter () do
		local t = p:type ()
		if t == ARDOUR.AutomationType.PluginAutomation or t == T.PROPERTY then
			local ac = automatable:automation_control (p, false)
			if not ac:isnil () and ac:name () ~= "hidden" and ac:desc ().label ~= "Bypass" then
				table.insert (list, { name = ac:desc ().label, control = ac, kind = t })
			end
		end
	end
	return list
end

function T.parameter (insert, name)
	for _, p in ipairs (T.parameters (insert)) do
		if p.name == name then
			return p.control
		end
	end
	return nil
end

function T.values (insert)
	local v = {}
	for _, p in ipairs (T.parameters (insert)) do
		v[p.name] = p.control:get_value ()
	end
	return v
end

-- Every parameter back to its default, as a user resets the plug-in in
-- Ardour; returns once the plug-in has run with them, so that nothing queued
-- for it reaches it after a later preset load or state change.
function T.reset (insert)
	for _, p in ipairs (T.parameters (insert)) do
		p.control:set_value (p.control:normal (), PBD.GroupControlDisposition.NoGroup)
	end
	ARDOUR.LuaAPI.wait_for_process_callback (8, 2000)
end

-- The names of parameters whose values differ between two T.values tables.
function T.differences (a, b)
	local d = {}
	for name, value in pairs (a) do
		if b[name] == nil or math.abs (b[name] - value) > 1e-4 * math.max (1, math.abs (value)) then
			table.insert (d, name)
		end
	end
	table.sort (d)
	return d
end

-- Renders the session's first T.seconds through the organ: Ardour bounces the
-- track, its MIDI region played through the plug-in (with the plug-in's
-- automation), to new audio files in the session, one per channel. The
-- plug-in is deactivated and activated first, so that no render starts with
-- the release and reverb tail of the one before it.
--
-- (Ardour 7.3's Lua export, Session:simple_export, corrupts the heap of a
-- headless ardour7-lua now and then, even with an empty session: no use here.)
function T.render (name)
	local track = T.organ_track ()
	local insert = track:nth_plugin (0)
	insert:deactivate ()
	insert:activate ()
	local itt = ARDOUR.InterThreadInfo ()
	local region = track:bounce_range (0, T.seconds * T.rate, itt, insert, true, name)
	if not T.check (not region:isnil (), "render " .. name .. " bounced") then
		return
	end
	local files = {}
	for source in region:master_sources ():iter () do
		table.insert (files, source:to_filesource ():path ())
	end
	T.check (#files == 2, "render " .. name .. " is stereo", #files .. " channels")
	print ("RENDER\t" .. name .. "\t" .. table.concat (files, "\t"))
	io.stdout:flush ()
end

function T.close ()
	close_session ()
end

return T
