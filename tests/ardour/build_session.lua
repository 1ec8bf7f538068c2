-- ardour7-lua build_session.lua FORMAT SESSION_DIR
--
-- A new session with the organ on a MIDI track playing a chord: checks the
-- parameters Ardour shows, renders the defaults, renders a Volume automation
-- from silent to full, then pulls the 1' drawbar fully out, renders that and
-- saves the session for reopen_session.lua.

local T = dofile (debug.getinfo (1, "S").source:match ("^@(.*/)") .. "common.lua")
local format, session_dir = arg[1], arg[2]

T.require (create_session (session_dir, "organ", T.rate) ~= nil, "session created")

local unique_id = T.find_plugin (format, "Brassgate Organ")
T.require (unique_id ~= nil, "Ardour lists the " .. format .. " plug-in")

-- A C major chord held for 3.5 beats (1.75 s at 120 bpm) of the 2 s render.
local track = T.build_session (format, unique_id, { { 48, 0, 3.5 }, { 60, 0, 3.5 }, { 64, 0, 3.5 }, { 67, 0, 3.5 } })
local insert = T.organ_insert (track)

local params = T.parameters (insert)
local names, properties = {}, 0
for _, p in ipairs (params) do
	table.insert (names, p.name)
	if p.kind == T.PROPERTY then
		properties = properties + 1
	end
end
T.note ("parameters: " .. table.concat (names, ", "))
T.check (#params == 24, "24 parameters shown", "found " .. #params)
if format == "lv2" then
	-- JUCE's LV2 plug-in has no control input ports of its own: its
	-- parameters are patch parameters, which Ardour shows as property controls.
	T.check (properties == 24, "all 24 are LV2 patch parameters", properties .. " of them are")
end

T.render ("default")
T.render ("default-again")
print ("AUDIO loud default")
print ("AUDIO same default default-again")

-- Volume automation: at its minimum for the first second, at its maximum from
-- there on; played back, the render is silent, then loud.
local volume = T.parameter (insert, "Volume")
T.require (volume ~= nil, "a Volume parameter exists")
local al = volume:alist ()
al:clear_list ()
al:add (Temporal.timepos_t (0), volume:lower (), false, false)
al:add (Temporal.timepos_t (T.rate - 64), volume:lower (), false, false)
al:add (Temporal.timepos_t (T.rate), volume:upper (), false, false)
al:add (Temporal.timepos_t (T.seconds * T.rate), volume:upper (), false, false)
volume:set_automation_state (ARDOUR.AutoState.Play)
T.check (volume:automation_state () == ARDOUR.AutoState.Play, "Volume automation is in Play")
T.render ("volume-automation")
print ("AUDIO quiet-then-loud volume-automation 1.0")
volume:set_automation_state (ARDOUR.AutoState.Off)
al:clear_list ()
volume:set_value (volume:normal (), PBD.GroupControlDisposition.NoGroup)

-- The 1' drawbar (in by default) fully out: a change the saved session keeps.
local drawbar = T.parameter (insert, "1'")
T.require (drawbar ~= nil, "a 1' drawbar parameter exists")
drawbar:set_value (drawbar:upper (), PBD.GroupControlDisposition.NoGroup)
T.check (math.abs (drawbar:get_value () - drawbar:upper ()) < 1e-4, "1' drawbar set to " .. drawbar:upper (),
	"reads " .. drawbar:get_value ())
T.render ("drawbar")
print ("AUDIO different default drawbar")

T.require (Session:save_state ("", false, false, false, false, false) == 0, "session saved")
print ("SAVED 1' " .. drawbar:upper ())
T.close ()
